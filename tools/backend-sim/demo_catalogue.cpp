#include "tools/backend-sim/demo_catalogue.h"

namespace nb {
namespace {

ServerRecord server(std::string id, std::string hostname, std::string gpu, int vram_mb, std::string cpu, int ram_mb,
                    std::string status, int price, std::string resolution, int max_fps,
                    std::vector<std::string> codecs, double rating, int total_sessions,
                    std::optional<int> live_fps = std::nullopt, std::optional<int> latency_ms = std::nullopt) {
    ServerRecord s;
    s.id = std::move(id);
    s.hostname = std::move(hostname);
    s.gpu_model = std::move(gpu);
    s.gpu_vram_mb = vram_mb;
    s.cpu_model = std::move(cpu);
    s.ram_mb = ram_mb;
    s.status = std::move(status);
    s.price_per_hour_cents = price;
    s.max_resolution = std::move(resolution);
    s.max_fps = max_fps;
    s.supported_codecs = std::move(codecs);
    s.rating = rating;
    s.total_sessions = total_sessions;
    s.live_fps = live_fps;
    s.latency_ms = latency_ms;
    return s;
}

}  // namespace

std::vector<ServerRecord> demo_catalogue() {
    const std::vector<std::string> both = {"h264", "h265"};
    const std::vector<std::string> all = {"h264", "h265", "av1"};
    const std::vector<std::string> h264 = {"h264"};
    return {
        server("srv-aurora-4090", "aurora.fra1.nubora.test", "NVIDIA GeForce RTX 4090", 24576, "AMD Ryzen 9 7950X3D",
               65536, "online", 349, "3840x2160", 144, all, 4.9, 1287, 142, 11),
        server("srv-nimbus-4080", "nimbus.ams2.nubora.test", "NVIDIA GeForce RTX 4080 SUPER", 16384,
               "Intel Core i9-14900K", 32768, "online", 279, "3840x2160", 120, all, 4.8, 864, 118, 14),
        server("srv-cirrus-4070", "cirrus.par1.nubora.test", "NVIDIA GeForce RTX 4070 Ti", 12288,
               "Intel Core i7-13700K", 32768, "in_session", 189, "2560x1440", 165, all, 4.6, 512, 160, 9),
        server("srv-stratus-3090", "stratus.waw1.nubora.test", "NVIDIA GeForce RTX 3090", 24576,
               "AMD Ryzen 9 5900X", 65536, "online", 199, "3840x2160", 120, both, 4.7, 2031, 117, 18),
        server("srv-cumulus-3080", "cumulus.lon1.nubora.test", "NVIDIA GeForce RTX 3080", 10240,
               "AMD Ryzen 7 5800X3D", 32768, "online", 159, "2560x1440", 144, both, 4.5, 1490, 139, 21),
        server("srv-halo-3070", "halo.mad1.nubora.test", "NVIDIA GeForce RTX 3070", 8192, "Intel Core i5-12600K",
               16384, "offline", 109, "1920x1080", 144, both, 4.2, 733),
        server("srv-zephyr-4060", "zephyr.prg1.nubora.test", "NVIDIA GeForce RTX 4060", 8192, "AMD Ryzen 5 7600",
               16384, "online", 89, "1920x1080", 165, all, 4.3, 298, 165, 24),
        server("srv-breeze-3060", "breeze.vie1.nubora.test", "NVIDIA GeForce RTX 3060", 12288,
               "Intel Core i5-11400F", 16384, "online", 69, "1920x1080", 60, both, 3.9, 1804, 60, 33),
        server("srv-ember-7900", "ember.sto1.nubora.test", "AMD Radeon RX 7900 XTX", 24576, "AMD Ryzen 9 7900X",
               65536, "online", 239, "3840x2160", 120, all, 4.6, 377, 115, 16),
        server("srv-flare-6800", "flare.mil1.nubora.test", "AMD Radeon RX 6800 XT", 16384, "AMD Ryzen 7 5700X",
               32768, "in_session", 129, "2560x1440", 120, both, 4.4, 655),
        server("srv-spark-a770", "spark.dub1.nubora.test", "Intel Arc A770", 16384, "Intel Core i5-13400F", 16384,
               "maintenance", 79, "2560x1440", 60, all, 3.6, 41),
        server("srv-pebble-1660", "pebble.buc1.nubora.test", "NVIDIA GeForce GTX 1660 SUPER", 6144,
               "Intel Core i5-9400F", 16384, "online", 45, "1920x1080", 60, h264, 3.4, 2260, 58, 41),
        server("srv-glacier-4090", "glacier.hel1.nubora.test", "NVIDIA GeForce RTX 4090", 24576,
               "Intel Core i9-13900KS", 131072, "offline", 329, "7680x4320", 240, all, 5.0, 96),
        server("srv-drift-6600", "drift.lis1.nubora.test", "AMD Radeon RX 6600", 8192, "AMD Ryzen 5 5600", 16384,
               "online", 55, "1920x1080", 60, h264, 3.8, 911),
    };
}

Registration demo_registration() { return {"demo@nubora.test", "nubora-demo", "Demo Player", "client"}; }

}  // namespace nb
