// SPDX-License-Identifier: MIT
// tq820-window-probe: watches an X display from outside a program and tells
// when a top-level window with a given title is mapped and when an area of
// it shows a given number of text lines.
//
//   tq820-window-probe TITLE X Y WIDTH HEIGHT LINES TIMEOUT_MS
//
// Prints "ready" once it watches (start the program after that), then
// "mapped T painted T window ID", T in seconds on the monotonic clock that
// Python's time.monotonic() reads too. Exit status 1 when the timeout passes
// first, 2 for a bad command line or no display.
#include <poll.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>

#include "text_rows.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Request {
    std::string title;
    int x, y, width, height;
    int lines;
    Clock::time_point deadline;
};

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

double seconds(Clock::time_point at) {
    return std::chrono::duration<double>(at.time_since_epoch()).count();
}

int millisecondsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

std::string windowTitle(xcb_connection_t* connection, xcb_window_t window) {
    const auto cookie = xcb_get_property(connection, 0, window, XCB_ATOM_WM_NAME,
                                         XCB_GET_PROPERTY_TYPE_ANY, 0, 256);
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply) return {};
    const auto length = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())), length);
}

// The first window with the title mapped from now on, or nothing by the
// deadline.
std::optional<xcb_window_t> awaitMappedWindow(xcb_connection_t* connection,
                                              const Request& request) {
    pollfd entry{xcb_get_file_descriptor(connection), POLLIN, 0};
    for (;;) {
        while (const Reply<xcb_generic_event_t> event{xcb_poll_for_event(connection)}) {
            if ((event->response_type & 0x7F) != XCB_MAP_NOTIFY) continue;
            const auto* mapped = reinterpret_cast<const xcb_map_notify_event_t*>(event.get());
            if (windowTitle(connection, mapped->window) == request.title) return mapped->window;
        }
        if (xcb_connection_has_error(connection) != 0 || Clock::now() >= request.deadline)
            return std::nullopt;
        ::poll(&entry, 1, millisecondsLeft(request.deadline));
    }
}

int linesShown(xcb_connection_t* connection, xcb_window_t window, const Request& request) {
    const auto cookie = xcb_get_image(
        connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, static_cast<std::int16_t>(request.x),
        static_cast<std::int16_t>(request.y), static_cast<std::uint16_t>(request.width),
        static_cast<std::uint16_t>(request.height), ~0U);
    const Reply<xcb_get_image_reply_t> image(xcb_get_image_reply(connection, cookie, nullptr));
    if (!image) return -1;  // not viewable yet
    const auto bytes = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
    const auto rowBytes = bytes / static_cast<std::size_t>(request.height);
    if (image->depth < 24 || rowBytes < static_cast<std::size_t>(request.width) * 4) return -1;
    const tq::bench::PixelArea area{
        reinterpret_cast<const std::uint32_t*>(xcb_get_image_data(image.get())), request.width,
        request.height, static_cast<int>(rowBytes / 4)};
    return tq::bench::countTextLines(area);
}

int run(const Request& request) {
    int screenNumber = 0;
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(connection) != 0) {
        std::fprintf(stderr, "tq820-window-probe: cannot open the display\n");
        xcb_disconnect(connection);
        return 2;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&screens);
    const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    const Reply<xcb_generic_error_t> refused(xcb_request_check(
        connection, xcb_change_window_attributes_checked(connection, screens.data->root,
                                                         XCB_CW_EVENT_MASK, &mask)));
    if (refused) {
        std::fprintf(stderr, "tq820-window-probe: the display refuses to report new windows\n");
        xcb_disconnect(connection);
        return 2;
    }
    std::printf("ready\n");
    std::fflush(stdout);

    int status = 1;
    if (const auto window = awaitMappedWindow(connection, request)) {
        const auto mapped = Clock::now();
        while (Clock::now() < request.deadline) {
            if (linesShown(connection, *window, request) >= request.lines) {
                std::printf("mapped %.6f painted %.6f window %u\n", seconds(mapped),
                            seconds(Clock::now()), *window);
                status = 0;
                break;
            }
            ::poll(nullptr, 0, 1);
        }
    }
    if (status != 0)
        std::fprintf(stderr, "tq820-window-probe: no window \"%s\" painted in time\n",
                     request.title.c_str());
    xcb_disconnect(connection);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: tq820-window-probe TITLE X Y WIDTH HEIGHT LINES TIMEOUT_MS\n");
        return 2;
    }
    Request request{argv[1],
                    std::atoi(argv[2]),
                    std::atoi(argv[3]),
                    std::atoi(argv[4]),
                    std::atoi(argv[5]),
                    std::atoi(argv[6]),
                    Clock::now() + std::chrono::milliseconds(std::atoi(argv[7]))};
    if (request.width <= 0 || request.height <= 0 || request.lines <= 0) {
        std::fprintf(stderr, "tq820-window-probe: the area and the line count must be positive\n");
        return 2;
    }
    return run(request);
}
