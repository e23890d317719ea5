// The launcher's two languages: one process-wide choice, two parallel text
// tables and the money formats that follow the language.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nb::ui {

// Positions in the text tables. Both tables hold every entry in this order.
enum Txt : size_t {
    t_product_name,
    t_servers,
    t_session,
    t_settings,
    t_sign_out,
    t_welcome_back,
    t_sign_in_to_nubora,
    t_email_address,
    t_password,
    t_sign_in,
    t_remember_me,
    t_no_account,
    t_create_one,
    t_fill_all_fields,
    t_invalid_credentials,
    t_create_account,
    t_join_today,
    t_display_name,
    t_i_want_to,
    t_rent_gaming_pcs,
    t_share_my_pc,
    t_have_account,
    t_server_browser,
    t_choose_pc,
    t_gpu_model,
    t_min_fps,
    t_max_price,
    t_sort_rating,
    t_sort_price,
    t_refresh,
    t_no_servers,
    t_online,
    t_in_session,
    t_offline,
    t_unavailable,
    t_details,
    t_back,
    t_specifications,
    t_gpu,
    t_cpu,
    t_ram,
    t_vram,
    t_max_resolution,
    t_max_fps,
    t_codecs,
    t_price_per_hour,
    t_total_sessions,
    t_rent_this_pc,
    t_my_session,
    t_preparing_session,
    t_establishing_connection,
    t_streaming,
    t_no_active_session,
    t_launch_stream,
    t_terminate_session,
    t_ending,
    t_cost,
    t_duration,
    t_browse_servers,
    t_session_ended,
    t_language,
    t_save_settings,
    t_settings_saved,
    t_loading,
    t_balance,
    t_megabytes,
    t_gigabytes,
    t_fps_unit,
    t_dash,
    // Served twice with the same wording, as the screens use them apart.
    t_register_email_address,
    t_register_password,
    t_settings_title,
    t_sign_in_link,
    t_text_count
};

using TextTable = std::array<const char*, t_text_count>;

bool is_russian();
void set_language(bool russian);

// The table of the language chosen now; fetch once per frame and index it.
const TextTable& texts();
const TextTable& texts_for(bool russian);

// Money from cents, two decimals, the currency of the interface language and
// never converted: "$12.34" / "12.34 руб.", and per hour "$12.34/hr" /
// "12.34 руб./ч".
std::string format_amount(int64_t cents);
std::string format_price_per_hour(int64_t cents);
std::string format_amount(int64_t cents, bool russian);
std::string format_price_per_hour(int64_t cents, bool russian);

}  // namespace nb::ui
