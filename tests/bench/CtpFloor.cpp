// The stop-and-wait floor of a CTP upload: two processes on loopback, one sending messages of
// the size of a DATA message and waiting for each answer, the other answering each one as soon
// as it is whole. Nothing is parsed, digested or encoded, so no upload can be faster.
//   ctp_floor MESSAGES [BYTES]    prints "floor SECONDS MESSAGES"
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr char Answer[] = "REPLY OK\r\n";

void NoDelay(int s) {
    int one = 1;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool ReadWhole(int s, char* buf, size_t n) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = recv(s, buf + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<size_t>(r);
    }
    return true;
}

[[noreturn]] void Answerer(int listener, size_t bytes) {
    int c = accept(listener, nullptr, nullptr);
    if (c < 0) _exit(1);
    NoDelay(c);
    std::vector<char> buf(bytes);
    while (ReadWhole(c, buf.data(), bytes))
        if (send(c, Answer, sizeof Answer - 1, MSG_NOSIGNAL) != sizeof Answer - 1) break;
    _exit(0);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: ctp_floor MESSAGES [BYTES]\n");
        return 2;
    }
    long messages = std::atol(argv[1]);
    size_t bytes = argc > 2 ? static_cast<size_t>(std::atol(argv[2])) : 1400 + 11; // "DATA 1400\r\n"
    if (messages <= 0 || bytes == 0) return 2;
    int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (l < 0 || bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 1) != 0 ||
        getsockname(l, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        std::perror("ctp_floor");
        return 1;
    }
    pid_t peer = fork();
    if (peer < 0) return 1;
    if (peer == 0) Answerer(l, bytes);
    close(l);
    int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    NoDelay(s);
    if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("ctp_floor");
        return 1;
    }
    std::vector<char> msg(bytes, 'd');
    char reply[sizeof Answer - 1];
    auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < messages; ++i)
        if (send(s, msg.data(), msg.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(msg.size()) ||
            !ReadWhole(s, reply, sizeof reply))
            return 1;
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    close(s);
    waitpid(peer, nullptr, 0);
    std::printf("floor %.6f %ld\n", secs, messages);
    return 0;
}
