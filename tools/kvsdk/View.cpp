#include "tools/kvsdk/View.h"

#include <httplib.h>
#include <pthread.h>
#include <signal.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/kvsdk/ToolPlatform.h"
#include "tools/kvsdk/TraceFollower.h"

namespace kvsdk::tool {
namespace {

constexpr uint16_t kDefaultPort = 8737;
constexpr uint16_t kPortsToTry = 10;
// A quiet event stream gets a comment line this often: a page that went away frees its thread.
constexpr auto kKeepAlive = std::chrono::seconds(5);
constexpr size_t kServerThreads = 16;  // each open page holds one for its event stream

// Only the loopback address and localhost, with the port listened on or none: a page from
// elsewhere that reaches this port through a name of its own (DNS rebinding) is refused.
bool HostAllowed(std::string host, uint16_t port) {
    for (char& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t colon = host.find(':');
    if (colon != std::string::npos) {
        if (host.substr(colon + 1) != std::to_string(port)) return false;
        host.resize(colon);
    }
    return host == "127.0.0.1" || host == "localhost";
}

void AppendString(std::string& out, std::string_view text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

void AppendEvents(std::string& out, const std::vector<Event>& events) {
    out += '[';
    for (const Event& e : events) {
        out += (&e == events.data() ? "[" : ",[") + std::to_string(e.ms) + ',';
        AppendString(out, e.text);
        out += e.failed ? ",1]" : ",0]";
    }
    out += ']';
}

// The state as the page reads it: every attribute as [start, value] pairs, each lasting until
// the next one (the last one until now), and the events as [time, text, failed].
std::string StateJson(const LiveState& state, const std::string& trace) {
    std::string out = "{\"trace\":";
    AppendString(out, trace);
    out += ",\"now\":" + std::to_string(state.nowMs) +
           ",\"generation\":" + std::to_string(state.generation) +
           ",\"lines\":" + std::to_string(state.timeline.lineCount) +
           ",\"skipped\":" + std::to_string(state.skipped) + ",\"status\":";
    AppendString(out, state.status);
    out += ",\"devices\":[";
    for (const DeviceTimeline& device : state.timeline.devices) {
        if (&device != state.timeline.devices.data()) out += ',';
        out += "{\"id\":";
        AppendString(out, device.productId);
        out += ",\"title\":";
        AppendString(out, device.Title());
        out += ",\"path\":";
        AppendString(out, device.path);
        out += ",\"events\":";
        AppendEvents(out, device.events);
        out += ",\"lights\":[";
        for (const LightTimeline& light : device.lights) {
            if (&light != device.lights.data()) out += ',';
            out += "{\"label\":";
            AppendString(out, light.Label());
            for (Attribute attribute : kAttributes) {
                out += ",\"" + std::string(AttributeName(attribute)) + "\":[";
                for (const Segment& s : light.Of(attribute)) {
                    if (&s != light.Of(attribute).data()) out += ',';
                    out += '[' + std::to_string(s.start) + ',' + std::to_string(s.value) + ']';
                }
                out += ']';
            }
            out += ",\"events\":";
            AppendEvents(out, light.events);
            if (const auto last = LastActivity(light)) {
                out += ",\"last\":[" + std::to_string(last->ms) + ',';
                AppendString(out, last->text);
                out += last->failed ? ",1]" : ",0]";
            }
            out += '}';
        }
        out += "]}";
    }
    return out + "]}";
}

void Plain(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain; charset=utf-8");
}

}  // namespace

int RunView(const std::string& trace, std::optional<uint16_t> port, std::ostream& out,
            std::ostream& err) {
    // Ctrl-C and termination are taken by one thread, which stops the server; no other
    // thread, the server's included, is interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stopSignals, s);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CLiveTrace live(PathFromUtf8(trace));
    httplib::Server server;
    uint16_t bound = 0;
    server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
    server.set_keep_alive_timeout(1);
    server.set_payload_max_length(0);
    server.set_default_headers({{"Cache-Control", "no-store"},
                                {"X-Content-Type-Options", "nosniff"},
                                {"X-Frame-Options", "DENY"},
                                {"Referrer-Policy", "no-referrer"},
                                {"Content-Security-Policy",
                                 "default-src 'none'; connect-src 'self'; img-src 'self'; "
                                 "style-src 'unsafe-inline'; script-src 'unsafe-inline'"}});
    server.set_pre_routing_handler([&bound](const httplib::Request& req, httplib::Response& res) {
        if (req.method != "GET") {
            res.set_header("Allow", "GET");
            Plain(res, 405, "kvsdk view answers GET only");
        } else if (!HostAllowed(req.get_header_value("Host"), bound)) {
            Plain(res, 403, "kvsdk view answers only to 127.0.0.1 and localhost");
        } else {
            return httplib::Server::HandlerResponse::Unhandled;
        }
        return httplib::Server::HandlerResponse::Handled;
    });
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(ViewPage(), "text/html; charset=utf-8");
    });
    server.Get("/state", [&](const httplib::Request&, httplib::Response& res) {
        res.set_content(StateJson(live.State(), trace), "application/json");
    });
    // Server-sent events: the whole state each time it changes.
    server.Get("/events", [&](const httplib::Request&, httplib::Response& res) {
        auto sent = std::make_shared<std::optional<uint64_t>>();
        res.set_chunked_content_provider(
            "text/event-stream", [&live, &trace, sent](size_t, httplib::DataSink& sink) {
                if (*sent) live.WaitForChange(**sent, kKeepAlive);
                if (live.Stopping()) return false;
                const LiveState state = live.State();
                const std::string message = *sent == state.version
                                                ? std::string(": quiet\n\n")
                                                : "data: " + StateJson(state, trace) + "\n\n";
                *sent = state.version;
                return sink.write(message.data(), message.size());
            });
    });

    const char* host = "127.0.0.1";
    const uint16_t first = port.value_or(kDefaultPort);
    const uint16_t tries = port ? 1 : kPortsToTry;
    for (uint16_t p = first; p - first < tries && p != 0 && !bound; ++p) {
        if (server.bind_to_port(host, p)) bound = p;
    }
    if (!bound) {
        err << "kvsdk: cannot listen on 127.0.0.1 port " << first
            << (tries > 1 ? " nor the next few" : "") << "\n";
        return 1;
    }
    out << "kvsdk view: following " << trace << "\n"
        << "Open http://127.0.0.1:" << bound << "/ in a browser on this machine (Ctrl-C stops)."
        << std::endl;

    std::thread stopper([&] {
        int signal = 0;
        sigwait(&stopSignals, &signal);
        live.Stop();
        server.stop();
    });
    const bool listened = server.listen_after_bind();
    pthread_kill(stopper.native_handle(), SIGTERM);  // if the server stopped by itself
    stopper.join();
    if (!listened) {
        err << "kvsdk: the server stopped on an error\n";
        return 1;
    }
    return 0;
}

}  // namespace kvsdk::tool
