#include "mcp/http_transport.h"

// The library's defaults for what a request's line and headers may hold.
#define CPPHTTPLIB_REQUEST_URI_MAX_LENGTH 4096
#define CPPHTTPLIB_HEADER_MAX_LENGTH 8192
#define CPPHTTPLIB_THREAD_POOL_COUNT 96
#include <httplib.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <thread>

#include "text/text.h"

namespace mcp {
namespace {

using Clock = std::chrono::steady_clock;
constexpr char kSessionHeader[] = "Mcp-Session-Id";

std::string new_session_id() {
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof(part), "%08x", static_cast<unsigned>(random()));
        id += part;
    }
    return id;
}

// One session: its Server, and the POSTs waiting for their answers, by id.
class HttpSession : public LineSink {
  public:
    explicit HttpSession(const ServerFactory& make_server) : server_(make_server(*this)) {}
    ~HttpSession() override { server_.reset(); }

    struct Waiter {
        std::optional<std::string> line;
        bool released = false;  // cancelled, or the session ended: no answer comes
    };

    // The Server answers request ids; the line goes to the POST that asked.
    void write_line(const std::string& line) override {
        const Json message = Json::parse(line, nullptr, false);
        if (!message.is_object() || !message.contains("id")) {
            return;
        }
        std::lock_guard guard(mutex_);
        const auto waiter = waiters_.find(message["id"].dump());
        if (waiter != waiters_.end()) {
            waiter->second->line = line;
            answered_.notify_all();
        }
    }

    // false: a request with this id is already waiting.
    bool add_waiter(const std::string& key, Waiter& waiter) {
        std::lock_guard guard(mutex_);
        touch_locked();
        return waiters_.emplace(key, &waiter).second;
    }

    // Waits for the answer or the release; the waiter is gone afterwards.
    void wait(const std::string& key, Waiter& waiter) {
        std::unique_lock lock(mutex_);
        answered_.wait(lock, [&] { return waiter.line || waiter.released; });
        waiters_.erase(key);
        touch_locked();
    }

    void release(const std::string& key) {
        std::lock_guard guard(mutex_);
        const auto waiter = waiters_.find(key);
        if (waiter != waiters_.end()) {
            waiter->second->released = true;
            answered_.notify_all();
        }
    }

    void release_all() {
        std::lock_guard guard(mutex_);
        for (auto& [key, waiter] : waiters_) {
            waiter->released = true;
        }
        answered_.notify_all();
    }

    void touch() {
        std::lock_guard guard(mutex_);
        touch_locked();
    }

    bool idle_since(Clock::time_point limit) {
        std::lock_guard guard(mutex_);
        return waiters_.empty() && last_used_ < limit;
    }

    Server& server() { return *server_; }

  private:
    void touch_locked() { last_used_ = Clock::now(); }

    std::mutex mutex_;
    std::condition_variable answered_;
    std::map<std::string, Waiter*> waiters_;
    Clock::time_point last_used_ = Clock::now();
    std::unique_ptr<Server> server_;  // last: its worker may call write_line
};

class SessionTable {
  public:
    std::shared_ptr<HttpSession> find(const std::string& id) {
        std::lock_guard guard(mutex_);
        const auto session = sessions_.find(id);
        return session == sessions_.end() ? nullptr : session->second;
    }

    // Empty when the table is full.
    std::string add(std::shared_ptr<HttpSession> session) {
        std::lock_guard guard(mutex_);
        if (sessions_.size() >= kHttpMaxSessions) {
            return {};
        }
        std::string id = new_session_id();
        sessions_.emplace(id, std::move(session));
        return id;
    }

    std::shared_ptr<HttpSession> remove(const std::string& id) {
        std::lock_guard guard(mutex_);
        const auto session = sessions_.find(id);
        if (session == sessions_.end()) {
            return nullptr;
        }
        std::shared_ptr<HttpSession> removed = std::move(session->second);
        sessions_.erase(session);
        return removed;
    }

    // Sessions unused for the idle limit, taken out of the table.
    std::vector<std::shared_ptr<HttpSession>> remove_idle() {
        const Clock::time_point limit = Clock::now() - kHttpSessionIdleLimit;
        std::vector<std::shared_ptr<HttpSession>> removed;
        std::lock_guard guard(mutex_);
        for (auto session = sessions_.begin(); session != sessions_.end();) {
            if (session->second->idle_since(limit)) {
                removed.push_back(std::move(session->second));
                session = sessions_.erase(session);
            } else {
                ++session;
            }
        }
        return removed;
    }

  private:
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<HttpSession>> sessions_;
};

std::optional<std::string> header(const httplib::Request& request, const char* name) {
    if (!request.has_header(name)) {
        return std::nullopt;
    }
    return request.get_header_value(name);
}

RequestHeaders request_headers(const httplib::Request& request) {
    return {header(request, "Host"), header(request, "Origin"), header(request, "Authorization"),
            header(request, "MCP-Protocol-Version")};
}

bool accepts(const httplib::Request& request, std::string_view type) {
    const std::string accept = header(request, "Accept").value_or("*/*");
    return accept.find(type) != std::string::npos || accept.find("*/*") != std::string::npos;
}

// The refusal's reason is its body, which the logger turns into the one line.
void refuse(httplib::Response& response, const Refusal& refusal) {
    response.status = refusal.status;
    if (refusal.status == 401) {
        response.set_header("WWW-Authenticate", "Bearer");
    }
    response.set_content(refusal.reason, "text/plain");
}

class HttpTransport {
  public:
    HttpTransport(const HttpPolicy& policy, const ServerFactory& make_server,
                  const std::function<void(const std::string&)>& log)
        : policy_(policy), make_server_(make_server), log_(log) {}

    zelto::Status serve() {
        http_.set_payload_max_length(kHttpMaxBodyBytes);
        http_.set_read_timeout(kHttpReadTimeout.count());
        http_.set_keep_alive_timeout(5);
        // Headers and body go out in separate writes: without this the body
        // waits for the peer's delayed acknowledgement.
        http_.set_tcp_nodelay(true);
        // Every request passes the checks before any handler sees it.
        http_.set_pre_routing_handler(
            [this](const httplib::Request& request, httplib::Response& response) {
                if (const auto refusal = check_request(policy_, request_headers(request))) {
                    refuse(response, *refusal);
                    return httplib::Server::HandlerResponse::Handled;
                }
                allow_origin(request, response);
                return httplib::Server::HandlerResponse::Unhandled;
            });
        http_.Post("/mcp", [this](const httplib::Request& request, httplib::Response& response) {
            post(request, response);
        });
        http_.Delete("/mcp", [this](const httplib::Request& request, httplib::Response& response) {
            end_session(request, response);
        });
        // No stream of server-initiated messages: this server sends none.
        http_.Get("/mcp", [](const httplib::Request&, httplib::Response& response) {
            response.status = 405;
            response.set_header("Allow", "POST, DELETE");
        });
        http_.Options("/mcp", [](const httplib::Request&, httplib::Response& response) {
            response.status = 204;
        });
        http_.set_logger([this](const httplib::Request& request,
                                const httplib::Response& response) {
            if (response.status >= 400 && response.status != 405) {
                log_(
                    text::concat({"[CUA-mcp] refused ", request.method, " ", request.path, " from ",
                                  request.remote_addr, ": ", std::to_string(response.status), " ",
                                  response.body.empty() ? std::string_view("(HTTP limits)")
                                                        : std::string_view(response.body)}));
            }
        });
        if (!http_.bind_to_port(policy_.listen.host, policy_.listen.port)) {
            return zelto::fail(text::concat({"[CUA-mcp] cannot listen on ", policy_.listen.host,
                                             ":", std::to_string(policy_.listen.port)}));
        }
        log_(text::concat({"[CUA-mcp] serving MCP on http://", url_host(), ":",
                           std::to_string(policy_.listen.port), "/mcp",
                           policy_.token.empty() ? "" : " (token required)"}));
        std::thread reaper([this] { reap(); });
        reaper.detach();
        http_.listen_after_bind();
        return zelto::done();
    }

  private:
    std::string url_host() const {
        const std::string& host = policy_.listen.host;
        return host.find(':') != std::string::npos ? "[" + host + "]" : host;
    }

    void allow_origin(const httplib::Request& request, httplib::Response& response) const {
        // Only an origin given by --allow-origin passes the checks.
        if (const auto origin = header(request, "Origin")) {
            response.set_header("Access-Control-Allow-Origin", *origin);
            response.set_header("Access-Control-Allow-Methods", "POST, DELETE");
            response.set_header(
                "Access-Control-Allow-Headers",
                "Content-Type, Authorization, Mcp-Session-Id, MCP-Protocol-Version");
            response.set_header("Access-Control-Expose-Headers", kSessionHeader);
        }
    }

    void post(const httplib::Request& request, httplib::Response& response) {
        const bool json = accepts(request, "application/json");
        if (!json && !accepts(request, "text/event-stream")) {
            refuse(response, {406, "Accept allows neither application/json nor text/event-stream"});
            return;
        }
        const Incoming message = parse_message(request.body);
        if (message.kind == Incoming::Kind::invalid) {
            response.status = 400;
            response.set_content(error_message(message.id, message.error_code, message.error_text),
                                 "application/json");
            return;
        }
        const bool is_request = message.kind == Incoming::Kind::request;
        const SessionVerdict verdict = check_session(
            is_request && message.method == "initialize", header(request, kSessionHeader),
            [this](const std::string& id) { return sessions_.find(id) != nullptr; });
        std::shared_ptr<HttpSession> session;
        switch (verdict.kind) {
            case SessionVerdict::Kind::refuse:
                refuse(response, verdict.refusal);
                return;
            case SessionVerdict::Kind::open_new: {
                session = std::make_shared<HttpSession>(make_server_);
                const std::string id = sessions_.add(session);
                if (id.empty()) {
                    refuse(response, {503, "too many sessions"});
                    return;
                }
                response.set_header(kSessionHeader, id);
                break;
            }
            case SessionVerdict::Kind::existing:
                session = sessions_.find(*header(request, kSessionHeader));
                if (!session) {  // ended meanwhile
                    refuse(response, {404, "unknown or expired session"});
                    return;
                }
                break;
        }
        if (!is_request) {
            session->touch();
            session->server().handle_line(request.body);
            if (message.method == "notifications/cancelled" && message.params.is_object() &&
                message.params.contains("requestId")) {
                // The cancelled request is never answered: its POST ends empty.
                session->release(message.params["requestId"].dump());
            }
            response.status = 202;
            return;
        }
        const std::string key = message.id.dump();
        HttpSession::Waiter waiter;
        if (!session->add_waiter(key, waiter)) {
            response.status = 400;
            response.set_content(
                error_message(message.id, kInvalidRequest, "Invalid Request: id already in use"),
                "application/json");
            return;
        }
        session->server().handle_line(request.body);
        session->wait(key, waiter);
        if (!waiter.line) {
            response.status = 202;
            return;
        }
        if (json) {
            response.set_content(*waiter.line, "application/json");
        } else {
            // A client that takes only a stream gets one of one event.
            response.set_content(text::concat({"event: message\ndata: ", *waiter.line, "\n\n"}),
                                 "text/event-stream");
        }
    }

    void end_session(const httplib::Request& request, httplib::Response& response) {
        const std::optional<std::string> id = header(request, kSessionHeader);
        if (!id) {
            refuse(response, {400, "no Mcp-Session-Id"});
            return;
        }
        const std::shared_ptr<HttpSession> session = sessions_.remove(*id);
        if (!session) {
            refuse(response, {404, "unknown or expired session"});
            return;
        }
        session->release_all();
        response.status = 204;
    }

    void reap() {
        while (true) {
            std::this_thread::sleep_for(std::chrono::seconds(30));
            for (const auto& session : sessions_.remove_idle()) {
                session->release_all();
                log_("[CUA-mcp] ended a session idle for 30 minutes");
            }
        }
    }

    const HttpPolicy& policy_;
    const ServerFactory& make_server_;
    const std::function<void(const std::string&)>& log_;
    SessionTable sessions_;
    httplib::Server http_;
};

}  // namespace

zelto::Status serve_http(const HttpPolicy& policy, const ServerFactory& make_server,
                         const std::function<void(const std::string&)>& log) {
    HttpTransport transport(policy, make_server, log);
    return transport.serve();
}

}  // namespace mcp
