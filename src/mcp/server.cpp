#include "mcp/server.h"

#include "text/text.h"

namespace mcp {
namespace {

// Records what an executor request put down or let up, once it succeeded.
void note_held_input(HeldInputs& held, const std::string& line, const ExecutorRun& run) {
    if (run.outcome != ExecutorRun::Outcome::finished || run.exit_code != 0) {
        return;
    }
    const Json request = Json::parse(line, nullptr, false);
    const Json result = Json::parse(run.output, nullptr, false);
    if (!request.is_object() || !result.is_object() || result.value("ok", false) != true) {
        return;
    }
    held.note(request.value("action", ""), request.value("params", Json::object()),
              HeldInputs::Clock::now());
}

}  // namespace

std::string_view negotiate_protocol_version(const Json& initialize_params) {
    if (initialize_params.is_object()) {
        const auto requested = initialize_params.find("protocolVersion");
        if (requested != initialize_params.end() && requested->is_string()) {
            for (const std::string_view version : kProtocolVersions) {
                if (*requested == version) {
                    return version;
                }
            }
        }
    }
    return kProtocolVersions[0];
}

Server::Server(LineSink& out, CallRunner run_call, std::string version,
               ScreenshotSettings screenshots, HeldInputs::Clock::duration longest_hold)
    : held_(longest_hold),
      out_(out),
      run_call_(std::move(run_call)),
      version_(std::move(version)),
      calls_(std::move(screenshots)) {
    worker_ = std::thread([this] { work(); });
}

Server::~Server() {
    close();
}

void Server::close() {
    {
        std::lock_guard guard(queue_mutex_);
        closing_ = true;
    }
    queue_changed_.notify_all();
    if (worker_.joinable()) {
        worker_.join();
    }
}

void Server::send(const std::string& line) {
    std::lock_guard guard(write_mutex_);
    out_.write_line(line);
}

void Server::handle_line(std::string_view line) {
    // Blank lines (a stray CR LF) carry no message.
    if (text::trim(std::string(line)).empty()) {
        return;
    }
    const Incoming message = parse_message(line);
    switch (message.kind) {
        case Incoming::Kind::invalid:
            send(error_message(message.id, message.error_code, message.error_text));
            return;
        case Incoming::Kind::request:
            handle_request(message);
            return;
        case Incoming::Kind::notification:
            handle_notification(message);
            return;
        case Incoming::Kind::response:
            return;
    }
}

void Server::handle_request(const Incoming& message) {
    const std::string& method = message.method;
    if (method == "initialize") {
        send(result_message(
            message.id,
            Json{{"protocolVersion", std::string(negotiate_protocol_version(message.params))},
                 {"capabilities", Json{{"tools", Json{{"listChanged", false}}}}},
                 {"serverInfo", Json{{"name", "zelto-cua"}, {"version", version_}}}}));
    } else if (method == "ping") {
        send(result_message(message.id, Json::object()));
    } else if (method == "tools/list") {
        send(result_message(message.id, tools_list_result()));
    } else if (method == "tools/call") {
        queue_call(message);
    } else {
        send(error_message(message.id, kMethodNotFound, "Method not found: " + method));
    }
}

void Server::handle_notification(const Incoming& message) {
    if (message.method != "notifications/cancelled" || !message.params.is_object()) {
        return;  // "notifications/initialized" and the rest need nothing from us
    }
    const auto request_id = message.params.find("requestId");
    if (request_id != message.params.end()) {
        cancel(*request_id);
    }
}

void Server::queue_call(const Incoming& message) {
    const Json& params = message.params;
    if (!params.is_object()) {
        send(error_message(message.id, kInvalidParams, "Invalid params: expected an object"));
        return;
    }
    const auto name = params.find("name");
    if (name == params.end() || !name->is_string()) {
        send(
            error_message(message.id, kInvalidParams, "Invalid params: \"name\" must be a string"));
        return;
    }
    const Tool* tool = find_tool(name->get<std::string>());
    if (tool == nullptr) {
        send(
            error_message(message.id, kInvalidParams, "Unknown tool: " + name->get<std::string>()));
        return;
    }
    const auto arguments = params.find("arguments");
    if (arguments != params.end() && !arguments->is_object()) {
        send(error_message(message.id, kInvalidParams,
                           "Invalid params: \"arguments\" must be an object"));
        return;
    }
    Call call{message.id, tool, arguments != params.end() ? *arguments : Json::object(),
              std::make_shared<std::atomic<bool>>(false)};
    {
        std::lock_guard guard(queue_mutex_);
        queue_.push_back(std::move(call));
    }
    queue_changed_.notify_all();
}

void Server::cancel(const Json& request_id) {
    std::lock_guard guard(queue_mutex_);
    if (!running_id_.is_null() && running_id_ == request_id) {
        running_cancelled_->store(true);
        return;
    }
    for (auto call = queue_.begin(); call != queue_.end(); ++call) {
        if (call->id == request_id) {
            queue_.erase(call);
            return;
        }
    }
}

void Server::work() {
    while (true) {
        Call call;
        {
            std::unique_lock lock(queue_mutex_);
            const auto ready = [this] { return closing_ || !queue_.empty(); };
            if (const auto deadline = held_.deadline()) {
                if (!queue_changed_.wait_until(lock, *deadline, ready)) {
                    lock.unlock();
                    release_held();  // held too long: nothing stays down on the desktop
                    continue;
                }
            } else {
                queue_changed_.wait(lock, ready);
            }
            if (queue_.empty()) {
                lock.unlock();
                release_held();  // the client has gone, or the server ends
                return;
            }
            call = std::move(queue_.front());
            queue_.pop_front();
            running_id_ = call.id;
            running_cancelled_ = call.cancelled;
        }
        ToolCalls::Answer answer = calls_.answer(
            call.id, *call.tool, call.arguments,
            [&](const std::string& line) {
                ExecutorRun run = run_call_(*call.tool, line, *call.cancelled);
                note_held_input(held_, line, run);
                return run;
            },
            [&] { return call.cancelled->load() || closing_.load(); });
        bool answered = false;
        {
            // Decided under the lock a cancellation takes: once it has arrived,
            // the call is never answered.
            std::lock_guard guard(queue_mutex_);
            running_id_ = nullptr;
            running_cancelled_.reset();
            answered = !call.cancelled->load() && !answer.line.empty();
        }
        if (answered) {
            send(answer.line);
            // Only an image the client was given can be pointed into.
            if (answer.screenshot) {
                calls_.remember(answer.screenshot->first, answer.screenshot->second);
            }
        }
    }
}

void Server::release_held() {
    const std::atomic<bool> never_cancelled{false};
    for (const std::string& line : held_.release_requests()) {
        const bool button = line.find("\"mouse_up\"") != std::string::npos;
        const Tool* tool = find_tool(button ? "mouse_up" : "key_up");
        (void)run_call_(*tool, line, never_cancelled);  // nothing more can be done if it fails
    }
}

}  // namespace mcp
