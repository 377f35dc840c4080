// cpp_walkthrough.cpp - the C++ layer: connect, a module message, a text
// analysis call and an asynchronous message.
// Usage: orqext_cpp_example [server [port [user [password]]]]
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>

#include "orqext.hpp"

int main(int argc, char** argv) {
    const std::string server = argc > 1 ? argv[1] : "localhost";
    const int32_t port = argc > 2 ? static_cast<int32_t>(std::atoi(argv[2])) : 7300;
    const std::string user = argc > 3 ? argv[3] : "admin";
    const std::string password = argc > 4 ? argv[4] : "admin";

    try {
        orqext::connection conn(server, port, user, password);
        std::printf("connected: handle %d, alive %d\n", static_cast<int>(conn.handle()), conn.alive() ? 1 : 0);

        // A module message; the answer sizes itself.
        const std::string echo = orqext::send(conn, "Echo", "hello");
        std::printf("send to Echo: %s\n", echo.c_str());

        // Text analysis: register and start the dictionary engine, add a
        // dictionary, segment a text with it.
        std::error_code ec;
        orqext::admin::register_module(conn, "KExt_NLPE", {}, ec);
        if (ec) std::printf("register KExt_NLPE: %s\n", ec.message().c_str());  // registered already
        orqext::admin::start_module(conn, "KExt_NLPE");
        orqext::text::nlpe_dict_import(conn, "places: new york, paris");
        orqext::text::nlpe_dict_load(conn, "places");
        const std::string text = "flights from new york to paris";
        for (const auto& seg : orqext::text::nlpe_word_sect(conn, text))
            std::printf("segment: %.*s\n", static_cast<int>(seg.mark), text.c_str() + seg.item);

        // An asynchronous message with its own callback; wait for it.
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        orqext::async_reply got;
        orqext::async_requester requests;
        requests.send_async(conn, "Echo", "async hello", [&](orqext::async_reply r) {
            std::lock_guard<std::mutex> g(m);
            got = std::move(r);
            done = true;
            cv.notify_all();
        });
        std::unique_lock<std::mutex> lk(m);
        if (!cv.wait_for(lk, std::chrono::seconds(30), [&] { return done; })) {
            std::printf("no asynchronous answer\n");
            return 1;
        }
        std::printf("async answer: %s (%s)\n", got.answer.c_str(),
                    got.error ? got.error.message().c_str() : "ok");
        return got.error ? 1 : 0;
    } catch (const orqext::error& e) {
        std::printf("failed: %s\n", e.what());
        return 1;
    }
}
