// The marketplace's REST endpoints: each handler turns a request into calls
// on the stores and their outcome into a JSON answer.
#pragma once

#include <cstdint>

namespace httplib {
class Server;
}

namespace nb {

class AccountStore;
class FaultInjector;
class ServerCatalogue;
class SessionManager;

class BackendApi {
public:
    BackendApi(AccountStore& accounts, ServerCatalogue& catalogue, SessionManager& sessions, int64_t starting_balance)
        : accounts_(accounts), catalogue_(catalogue), sessions_(sessions), starting_balance_(starting_balance) {}

    void register_routes(httplib::Server& server);
    // The /_test/ endpoints that add and clear fault rules at run time.
    static void register_admin_routes(httplib::Server& server, FaultInjector& faults);

private:
    AccountStore& accounts_;
    ServerCatalogue& catalogue_;
    SessionManager& sessions_;
    int64_t starting_balance_;
};

}  // namespace nb
