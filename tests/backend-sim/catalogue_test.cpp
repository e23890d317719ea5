// The server browser's query: every field of a server, the filters, the two
// sorts, paging and bad parameters; and catalogues loaded from a file.
#include <fstream>
#include <set>

#include "tests/backend-sim/api_fixture.h"
#include "tests/support/client_process.h"

namespace nb::test {
namespace {

class Catalogue : public BackendApiTest {
protected:
    std::vector<nlohmann::json> servers(const std::string& query, int* total = nullptr) {
        const Answer a = get("/api/servers?" + query);
        EXPECT_EQ(a.status, 200) << query << ": " << a.body.dump();
        if (total) *total = a.body.value("total", -1);
        return a.body.contains("servers") ? a.body["servers"].get<std::vector<nlohmann::json>>()
                                          : std::vector<nlohmann::json>{};
    }
};

TEST_F(Catalogue, EveryServerCarriesEveryFieldTheClientReads) {
    int total = 0;
    const auto list = servers("page=1&limit=30&sort=rating", &total);
    ASSERT_EQ(list.size(), 14u);
    EXPECT_EQ(total, 14);
    std::set<std::string> statuses, gpus;
    int live = 0;
    for (const auto& s : list) {
        for (const char* key : {"id", "hostname", "gpuModel", "cpuModel", "status", "maxResolution"}) {
            EXPECT_TRUE(s[key].is_string()) << key << " in " << s.dump();
        }
        for (const char* key : {"gpuVramMb", "ramMb", "pricePerHourCents", "maxFps", "totalSessions"}) {
            EXPECT_TRUE(s[key].is_number_integer()) << key << " in " << s.dump();
        }
        EXPECT_TRUE(s["rating"].is_number());
        EXPECT_TRUE(s["supportedCodecs"].is_array());
        if (s.contains("realtimeStatus")) {
            ++live;
            EXPECT_TRUE(s["realtimeStatus"]["fps"].is_number_integer());
            EXPECT_TRUE(s["realtimeStatus"]["latencyMs"].is_number_integer());
        }
        statuses.insert(s["status"].get<std::string>());
        gpus.insert(s["gpuModel"].get<std::string>());
    }
    EXPECT_GT(live, 0);
    EXPECT_LT(live, 14);
    EXPECT_TRUE(statuses.contains("online") && statuses.contains("in_session") && statuses.contains("offline"));
    EXPECT_GE(gpus.size(), 10u);
}

TEST_F(Catalogue, FiltersKeepOnlyMatchingServersAndCountThem) {
    struct Case {
        std::string query;
        std::function<bool(const nlohmann::json&)> keeps;
        size_t expected;
    };
    const auto gpu_has = [](std::string part) {
        return [part](const nlohmann::json& s) {
            std::string model = s["gpuModel"];
            for (auto& c : model) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return model.find(part) != std::string::npos;
        };
    };
    const std::vector<Case> cases = {
        {"gpu=RTX%204090", gpu_has("rtx 4090"), 2},
        {"gpu=rtx", gpu_has("rtx"), 9},
        {"gpu=Radeon", gpu_has("radeon"), 3},
        {"gpu=no-such-gpu", gpu_has("no-such-gpu"), 0},
        {"min_fps=144", [](const nlohmann::json& s) { return s["maxFps"] >= 144; }, 6},
        {"max_price=100", [](const nlohmann::json& s) { return s["pricePerHourCents"] <= 100; }, 5},
        {"gpu=rtx&min_fps=120&max_price=200",
         [&](const nlohmann::json& s) {
             return gpu_has("rtx")(s) && s["maxFps"] >= 120 && s["pricePerHourCents"] <= 200;
         },
         5},
        {"min_fps=0&max_price=0", [](const nlohmann::json&) { return true; }, 14},
    };
    for (const auto& c : cases) {
        int total = -1;
        const auto list = servers("page=1&limit=30&sort=rating&" + c.query, &total);
        EXPECT_EQ(list.size(), c.expected) << c.query;
        EXPECT_EQ(total, static_cast<int>(c.expected)) << c.query;
        for (const auto& s : list) EXPECT_TRUE(c.keeps(s)) << c.query << ": " << s.dump();
    }
}

TEST_F(Catalogue, SortsByRatingDownOrPriceUpAndPagesWithoutGapsOrRepeats) {
    const auto by_rating = servers("sort=rating");
    for (size_t i = 1; i < by_rating.size(); ++i) {
        EXPECT_GE(by_rating[i - 1]["rating"].get<double>(), by_rating[i]["rating"].get<double>());
    }
    EXPECT_EQ(by_rating.front()["id"], "srv-glacier-4090");
    const auto whole = servers("sort=price&limit=30");
    for (size_t i = 1; i < whole.size(); ++i) {
        EXPECT_LE(whole[i - 1]["pricePerHourCents"].get<int>(), whole[i]["pricePerHourCents"].get<int>());
    }
    EXPECT_EQ(whole.front()["id"], "srv-pebble-1660");
    std::vector<nlohmann::json> joined;
    for (int page = 1; page <= 3; ++page) {
        int total = 0;
        const auto part = servers("sort=price&limit=5&page=" + std::to_string(page), &total);
        EXPECT_EQ(total, 14);
        joined.insert(joined.end(), part.begin(), part.end());
    }
    EXPECT_EQ(joined, whole);
    EXPECT_TRUE(servers("sort=price&limit=5&page=4").empty());
}

TEST_F(Catalogue, BadParametersNameThemselves) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"sort=cheapest", "sort"},   {"page=0", "page"},         {"page=x", "page"},
        {"limit=0", "limit"},        {"limit=101", "limit"},     {"min_fps=-1", "min_fps"},
        {"max_price=12.5", "max_price"}, {"min_fps=", "min_fps"}, {"gpu=" + std::string(65, 'g'), "gpu"},
    };
    for (const auto& [query, field] : cases) expect_names(get("/api/servers?" + query), "query", field, query);
}

// A catalogue file replaces the servers as given, or stops the start when broken.
TEST_F(Catalogue, AFileReplacesTheServersOrStopsTheStart) {
    const auto dir = fresh_temp_dir("backend-catalogue");
    auto catalogue = [&](const std::string& name, const std::string& text) {
        if (!text.empty()) std::ofstream(dir / name) << text;
        BackendOptions options = test_backend_options();
        options.catalogue_file = (dir / name).string();
        return options;
    };
    const std::vector<std::string> broken = {
        "{}", "[{}]", R"([{"id":"a"},{"id":"a"}])", R"([{"id":"a","maxFps":"60"}])",
        R"([{"id":"a","supportedCodecs":[1]}])", "[", R"([{"id":"a","realtimeStatus":{"fps":1.5}}])",
    };
    for (size_t i = 0; i < broken.size(); ++i) {
        EXPECT_FALSE(BackendSimInstance(catalogue("bad" + std::to_string(i), broken[i])).started()) << broken[i];
    }
    EXPECT_FALSE(BackendSimInstance(catalogue("absent.json", "")).started());

    const nlohmann::json file = nlohmann::json::array(
        {{{"id", "bare"}},
         {{"id", "full"}, {"hostname", "h"}, {"gpuModel", "RTX 4090"}, {"gpuVramMb", 24576}, {"status", "online"},
          {"pricePerHourCents", 10}, {"maxFps", 240}, {"supportedCodecs", {"h264"}}, {"rating", 4.5},
          {"realtimeStatus", {{"fps", 200}, {"latencyMs", 3}}}}});
    start(catalogue("servers.json", file.dump()));
    const auto list = servers("sort=price");
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]["id"], "bare");
    EXPECT_EQ(list[0]["gpuModel"], "");
    EXPECT_EQ(list[0]["supportedCodecs"], nlohmann::json::array());
    EXPECT_FALSE(list[0].contains("realtimeStatus"));
    EXPECT_EQ(list[1]["realtimeStatus"]["fps"], 200);
    EXPECT_EQ(list[1]["rating"], 4.5);
}

}  // namespace
}  // namespace nb::test
