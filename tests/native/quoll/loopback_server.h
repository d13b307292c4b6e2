// A scripted HTTP/1.1 server on 127.0.0.1 for the transport and client
// tests: it answers each request with the next scripted raw response, and
// records what it received and on which connection. The raw form lets a
// test send what no well-behaved server would (short bodies, early close).
#ifndef TESTS_NATIVE_QUOLL_LOOPBACK_SERVER_H_
#define TESTS_NATIVE_QUOLL_LOOPBACK_SERVER_H_

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ovk::quoll::testing {

struct ScriptedResponse {
  std::string raw;             // status line, headers and body as sent
  bool closeAfter = false;     // close the connection after sending
};

struct ReceivedRequest {
  std::string head;  // request line and headers
  std::string body;
  int connection;    // 0, 1, ... in order of accept
};

class LoopbackServer {
 public:
  LoopbackServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 16);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
  }

  ~LoopbackServer() {
    stopping_ = true;
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    acceptor_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : connections_) shutdown(fd, SHUT_RDWR);
    for (std::thread& t : workers_) t.join();
    for (int fd : connections_) close(fd);
  }

  std::string url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  std::string hostPort() const { return "127.0.0.1:" + std::to_string(port_); }

  void script(ScriptedResponse response) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_.push_back(std::move(response));
  }

  static ScriptedResponse ok(const std::string& body, int status = 200,
                             const std::string& extraHeaders = "") {
    return {"HTTP/1.1 " + std::to_string(status) + " X\r\nContent-Length: " +
                std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body,
            false};
  }

  std::vector<ReceivedRequest> received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
  }
  int connectionCount() const { return accepted_; }

 private:
  void acceptLoop() {
    while (!stopping_) {
      int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) return;
      std::lock_guard<std::mutex> lock(mutex_);
      int id = accepted_++;
      connections_.push_back(fd);
      workers_.emplace_back([this, fd, id] { serve(fd, id); });
    }
  }

  void serve(int fd, int id) {
    std::string buffer;
    char chunk[65536];
    while (true) {
      size_t headEnd;
      while ((headEnd = buffer.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, n);
      }
      std::string head = buffer.substr(0, headEnd);
      buffer.erase(0, headEnd + 4);
      size_t length = 0;
      std::string lower = head;
      for (char& c : lower) c = static_cast<char>(std::tolower(c));
      size_t at = lower.find("content-length:");
      if (at != std::string::npos) length = std::stoul(lower.substr(at + 15));
      while (buffer.size() < length) {
        ssize_t n = recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buffer.append(chunk, n);
      }
      std::string body = buffer.substr(0, length);
      buffer.erase(0, length);
      ScriptedResponse response{"HTTP/1.1 500 Unscripted\r\nContent-Length: 0\r\n\r\n",
                                true};
      {
        std::lock_guard<std::mutex> lock(mutex_);
        received_.push_back({head, body, id});
        if (!script_.empty()) {
          response = script_.front();
          script_.pop_front();
        }
      }
      bool isHead = head.rfind("HEAD ", 0) == 0;
      std::string raw = response.raw;
      if (isHead) raw = raw.substr(0, raw.find("\r\n\r\n") + 4);
      send(fd, raw.data(), raw.size(), MSG_NOSIGNAL);
      if (response.closeAfter) {
        shutdown(fd, SHUT_RDWR);
        return;
      }
    }
  }

  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> accepted_{0};
  std::thread acceptor_;
  std::mutex mutex_;
  std::deque<ScriptedResponse> script_;
  std::vector<ReceivedRequest> received_;
  std::vector<int> connections_;
  std::vector<std::thread> workers_;
};

}  // namespace ovk::quoll::testing

#endif  // TESTS_NATIVE_QUOLL_LOOPBACK_SERVER_H_
