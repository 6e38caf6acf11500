// Sends one control command to a running simports and prints its reply.
//
//   simports-ctl <run dir> <command words...>     e.g.  simports-ctl /tmp/run press COM6
//
// Exit status: 0 when the reply starts with "ok", 1 for an "error" reply,
// 2 when simports could not be reached or did not answer within 5 s.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kReplyLimitMs = 5000;

int64_t monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

int connectTo(const std::string& path) {
  sockaddr_un addr{};
  if (path.size() >= sizeof addr.sun_path) {
    std::fprintf(stderr, "simports-ctl: path too long: %s\n", path.c_str());
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0)
    return -1;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.c_str(), path.size());
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    std::fprintf(stderr, "simports-ctl: %s: %s\n", path.c_str(), std::strerror(errno));
    close(fd);
    return -1;
  }
  return fd;
}

bool readReply(int fd, std::string& reply) {
  const int64_t end = monotonicMs() + kReplyLimitMs;
  for (;;) {
    const int64_t left = end - monotonicMs();
    if (left <= 0)
      return false;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0)
      continue;
    char chunk[1024];
    const ssize_t n = read(fd, chunk, sizeof chunk);
    if (n == 0)
      return true;
    if (n < 0 && errno != EINTR)
      return false;
    if (n > 0)
      reply.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: simports-ctl <run dir> <command words...>\n");
    return 2;
  }
  std::string line;
  for (int i = 2; i < argc; ++i) {
    if (i > 2)
      line += ' ';
    line += argv[i];
  }
  line += '\n';
  const int fd = connectTo(std::string(argv[1]) + "/control.sock");
  if (fd < 0)
    return 2;
  if (send(fd, line.data(), line.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(line.size())) {
    std::fprintf(stderr, "simports-ctl: send: %s\n", std::strerror(errno));
    close(fd);
    return 2;
  }
  std::string reply;
  const bool complete = readReply(fd, reply);
  close(fd);
  std::fputs(reply.c_str(), stdout);
  if (!complete) {
    std::fprintf(stderr, "simports-ctl: no complete reply within %d ms\n", kReplyLimitMs);
    return 2;
  }
  return reply.rfind("ok", 0) == 0 ? 0 : 1;
}
