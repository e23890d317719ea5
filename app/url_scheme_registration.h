// Registers this program for nubora:// links at every start: a per-user
// installed copy, a desktop entry naming it and the user's default handler.
#pragma once

#include "ui/user_folders.h"

namespace nb {

// Every failure is logged and ends the step quietly; the caller never sees
// an error. Folders come from XDG_DATA_HOME, XDG_CONFIG_HOME and HOME as
// `env` reports them.
void register_url_scheme(const ui::EnvLookup& env = ui::process_env);

}  // namespace nb
