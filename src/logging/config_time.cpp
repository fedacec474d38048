// Levels, the data directory and the runtime configuration with its process-wide cache.

#include "logging/config_time.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <shared_mutex>

#include "logging/config_time_lock.h"
#include "logging/config_time_system.h"
#include "text/text.h"

#ifndef ZELTO_EDITION
#define ZELTO_EDITION "enterprise"
#endif
#ifndef ZELTO_CHANNEL
#define ZELTO_CHANNEL "prod"
#endif

namespace logging {
namespace {

constexpr std::string_view kConfigFileName = "config.json";
constexpr const char* kLevelsKey = "logLevels";
constexpr std::size_t kDefaultLevelCount = 4;  // audit, error, warn, info: debug is opt-in

std::string trimmed_lower(std::string_view text) {
    return text::ascii_lower(text::trim(text));
}

bool is_level_name(std::string_view name) {
    return std::find(kLevelOrder.begin(), kLevelOrder.end(), name) != kLevelOrder.end();
}

std::optional<std::string> read_utf8_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad() || !text::is_valid_utf8(content)) {
        return std::nullopt;
    }
    return content;
}

// The process-wide configuration: loaded once, then only ever read.
class LogConfigCache {
  public:
    bool contains(std::string_view level) {
        std::call_once(loaded_, [this] { config_ = load_runtime_log_config(); });
        if (broken_.load()) {
            // Do not trust what a failed holder left: answer from a fresh load.
            return has_level(load_runtime_log_config(), level);
        }
        std::shared_lock guard(mutex_);
        BrokenMarkOnUnwind mark(broken_);
        return has_level(config_, level);
    }

    void mark_broken() { broken_.store(true); }

  private:
    static bool has_level(const RuntimeLogConfig& config, std::string_view level) {
        return std::find(config.levels.begin(), config.levels.end(), level) != config.levels.end();
    }

    std::once_flag loaded_;
    std::shared_mutex mutex_;
    std::atomic<bool> broken_{false};
    RuntimeLogConfig config_;
};

std::unique_ptr<LogConfigCache>& cache_slot() {
    static std::unique_ptr<LogConfigCache> slot = std::make_unique<LogConfigCache>();
    return slot;
}

}  // namespace

std::string_view normalize_level(std::string_view level) {
    const std::string name = trimmed_lower(level);
    if (name == "audit") {
        return "audit";
    }
    if (name == "error") {
        return "error";
    }
    if (name == "warn" || name == "warning") {
        return "warn";
    }
    if (name == "debug") {
        return "debug";
    }
    return "info";
}

std::vector<std::string> default_log_levels() {
    return {kLevelOrder.begin(), kLevelOrder.begin() + kDefaultLevelCount};
}

std::vector<std::string> accept_log_levels(const std::vector<std::string>& candidates) {
    std::vector<std::string> accepted;
    for (const std::string& candidate : candidates) {
        std::string name = trimmed_lower(candidate);
        if (is_level_name(name) &&
            std::find(accepted.begin(), accepted.end(), name) == accepted.end()) {
            accepted.push_back(std::move(name));
        }
    }
    if (accepted.empty()) {
        return default_log_levels();
    }
    std::vector<std::string> levels;
    for (std::string_view level : kLevelOrder) {
        if (std::find(accepted.begin(), accepted.end(), level) != accepted.end()) {
            levels.emplace_back(level);
        }
    }
    return levels;
}

std::vector<std::string> parse_log_levels_csv(std::string_view csv) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t comma = csv.find(',', start);
        parts.emplace_back(csv.substr(start, comma - start));
        if (comma == std::string_view::npos) {
            break;
        }
        start = comma + 1;
    }
    return accept_log_levels(parts);
}

std::string app_data_dir_name_for(std::string_view edition, std::string_view channel) {
    std::string edition_name = trimmed_lower(edition);
    std::replace(edition_name.begin(), edition_name.end(), '_', '-');
    const bool enterprise =
        edition_name == "biz" || edition_name == "business" || edition_name == "enterprise";

    const std::string channel_name = trimmed_lower(channel);
    const bool production =
        channel_name.empty() || channel_name == "prod" || channel_name == "production";

    std::string name = ".zelto";
    if (enterprise) {
        name += "-enterprise";
    }
    if (!production) {
        name += "-test";
    }
    return name;
}

std::string app_data_dir_name() {
    return app_data_dir_name_for(ZELTO_EDITION, ZELTO_CHANNEL);
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::optional<std::filesystem::path> home_directory() {
    LogSystem& system = log_system();
    if (auto home = system.get_env("HOME")) {
        return path_from_utf8(*home);
    }
    if (auto profile = system.get_env("USERPROFILE")) {
        return path_from_utf8(*profile);
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> data_directory() {
    auto home = home_directory();
    if (!home) {
        return std::nullopt;
    }
    return *home / path_from_utf8(app_data_dir_name());
}

RuntimeLogConfig load_runtime_log_config() {
    LogSystem& system = log_system();
    // An empty ZELTO_LOG_LEVELS still wins over ZELTO_LOG_LEVEL: "set" is what counts.
    std::optional<std::string> from_env = system.get_env("ZELTO_LOG_LEVELS");
    if (!from_env) {
        from_env = system.get_env("ZELTO_LOG_LEVEL");
    }
    RuntimeLogConfig config{parse_log_levels_csv(from_env.value_or(""))};

    const auto data_dir = data_directory();
    if (!data_dir) {
        return config;
    }
    const auto content = read_utf8_file(*data_dir / path_from_utf8(kConfigFileName));
    if (!content) {
        return config;
    }
    const nlohmann::json document = nlohmann::json::parse(*content, nullptr, false);
    if (document.is_discarded() || !document.is_object()) {
        return config;
    }
    const auto found = document.find(kLevelsKey);
    if (found == document.end()) {
        return config;
    }
    if (found->is_array()) {
        std::vector<std::string> candidates;
        for (const nlohmann::json& element : *found) {
            if (element.is_string()) {
                candidates.push_back(element.get<std::string>());
            }
        }
        config.levels = accept_log_levels(candidates);
    } else if (found->is_string()) {
        config.levels = parse_log_levels_csv(found->get_ref<const std::string&>());
    }
    return config;
}

bool log_level_enabled(std::string_view level) {
    return cache_slot()->contains(level);
}

void reset_log_config_cache_for_testing() {
    cache_slot() = std::make_unique<LogConfigCache>();
}

void mark_log_config_lock_broken_for_testing() {
    cache_slot()->mark_broken();
}

}  // namespace logging
