// A delay line for loopback: holds every packet of the netfilter queue for a fixed time before letting it
// through, so that a network namespace's loopback behaves like a distant link. Run it with the queue
// filled by "iptables -t mangle -A PREROUTING -i lo -p tcp -j NFQUEUE --queue-num N --queue-bypass"; each
// packet passes PREROUTING once, so the round trip grows by twice the delay.
//
//     bench_delayline QUEUE DELAY_MICROSECONDS
//
// Prints "ready" once bound to the queue, and ends on SIGTERM or SIGINT.

// glibc's network headers first: the kernel's then leave out what glibc already defines.
#include <arpa/inet.h>
#include <netinet/in.h>

#include <libnetfilter_queue/libnetfilter_queue.h>
#include <linux/netfilter.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <poll.h>
#include <sys/socket.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Held {
    uint32_t id;
    Clock::time_point due;
};

struct DelayLine {
    nfq_q_handle *queue = nullptr;
    std::chrono::microseconds delay{0};
    std::deque<Held> held; // in arrival order, so also in order of their due times
};

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) {
    stopRequested = 1;
}

int holdPacket(nfq_q_handle *, nfgenmsg *, nfq_data *packet, void *data) {
    auto *line = static_cast<DelayLine *>(data);
    const nfqnl_msg_packet_hdr *header = nfq_get_msg_packet_hdr(packet);
    if (header)
        line->held.push_back({ntohl(header->packet_id), Clock::now() + line->delay});
    return 0;
}

void releaseDue(DelayLine &line) {
    const Clock::time_point now = Clock::now();
    while (!line.held.empty() && line.held.front().due <= now) {
        nfq_set_verdict(line.queue, line.held.front().id, NF_ACCEPT, 0, nullptr);
        line.held.pop_front();
    }
}

int millisecondsUntilNextDue(const DelayLine &line) {
    if (line.held.empty())
        return 100; // wake now and then to see a stop request
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(line.held.front().due - Clock::now());
    return int(std::max<long>(0, wait.count()));
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s QUEUE DELAY_MICROSECONDS\n", argv[0]);
        return 2;
    }
    const int queueNumber = std::atoi(argv[1]);
    DelayLine line;
    line.delay = std::chrono::microseconds(std::atol(argv[2]));
    std::signal(SIGTERM, requestStop);
    std::signal(SIGINT, requestStop);

    nfq_handle *handle = nfq_open();
    if (!handle) {
        std::perror("nfq_open");
        return 1;
    }
    line.queue = nfq_create_queue(handle, uint16_t(queueNumber), &holdPacket, &line);
    if (!line.queue || nfq_set_mode(line.queue, NFQNL_COPY_META, 0) < 0) {
        std::perror("nfq_create_queue");
        nfq_close(handle);
        return 1;
    }
    nfq_set_queue_maxlen(line.queue, 65536);
    const int descriptor = nfq_fd(handle);
    std::printf("ready\n");
    std::fflush(stdout);

    alignas(nlmsghdr) char buffer[65536];
    while (!stopRequested) {
        pollfd readable{descriptor, POLLIN, 0};
        const int ready = poll(&readable, 1, millisecondsUntilNextDue(line));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready > 0) {
            ssize_t received = 0;
            while ((received = recv(descriptor, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
                nfq_handle_packet(handle, buffer, int(received));
        }
        releaseDue(line);
    }
    // Whatever is still held goes through at once rather than being lost with the queue.
    for (const Held &packet : line.held)
        nfq_set_verdict(line.queue, packet.id, NF_ACCEPT, 0, nullptr);
    nfq_destroy_queue(line.queue);
    nfq_close(handle);
    return 0;
}
