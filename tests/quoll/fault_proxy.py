"""A loopback HTTP proxy in front of an S3 endpoint that injects faults.

It runs in a process of its own (pyorvik holds the interpreter lock while
it connects, so an in-process proxy would deadlock), started and steered by
FaultProxy from the tests: `python fault_proxy.py UPSTREAM` prints its port
and serves until killed; requests to /__proxy__/ steer it and are never
forwarded.

It forwards each request unchanged (the Host header included, so request
signatures still verify upstream) and counts what passes. A test arms rules:
each rule matches requests by method and a regular expression searched in
the path and query, fires on chosen occurrences, and then does one of:

  status       answer with an HTTP error and an S3 <Error> body, not forwarded
  reset        forward, then send half the response body (none if it is
               empty) and reset the socket
  truncate     forward, then send the headers and half the body and close
  error_in_200 answer 200 with an <Error> body, not forwarded (what a failed
               multipart completion looks like)

Used by the fault tests and by the benchmark's request counts.
"""
import http.client
import http.server
import json
import re
import socket
import struct
import subprocess
import sys
import threading
import urllib.request
from dataclasses import asdict, dataclass, field
from urllib.parse import urlsplit

ERROR_BODY = ('<?xml version="1.0" encoding="UTF-8"?><Error><Code>{code}</Code>'
              '<Message>injected by the fault proxy</Message>'
              '<RequestId>proxy-{n}</RequestId></Error>')


@dataclass
class Rule:
    method: str
    pattern: str                  # searched in the path and query
    action: str                   # status | reset | truncate | error_in_200
    status: int = 503
    code: str = "ServiceUnavailable"
    times: int = 1                # fire on this many matching requests
    skip: int = 0                 # let this many matching requests through first
    seen: int = 0
    fired: int = 0

    def wants(self, method, target):
        if method != self.method or not re.search(self.pattern, target):
            return False
        self.seen += 1
        if self.seen <= self.skip or self.fired >= self.times:
            return False
        self.fired += 1
        return True


@dataclass
class Log:
    requests: list = field(default_factory=list)   # (method, target)
    bytes_out: int = 0                              # response body bytes sent


class ProxyServer:
    def __init__(self, upstream):
        parts = urlsplit(upstream)
        self.upstream = (parts.hostname, parts.port or 80)
        self.rules = []
        self.log = Log()
        self.lock = threading.Lock()
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def handle_one(self):
                length = int(self.headers.get("Content-Length") or 0)
                body = self.rfile.read(length) if length else b""
                if self.path.startswith("/__proxy__/"):
                    answer = proxy._control(self.path[len("/__proxy__/"):], body)
                    self._send(200, [], json.dumps(answer).encode())
                    return
                rule = proxy._take(self.command, self.path)
                if rule is not None and rule.action in ("status", "error_in_200"):
                    status = 200 if rule.action == "error_in_200" else rule.status
                    self._send(status, [("Content-Type", "application/xml")],
                               ERROR_BODY.format(code=rule.code, n=rule.fired).encode())
                    return
                status, headers, payload = proxy._forward(
                    self.command, self.path, self.headers, body)
                if rule is None:
                    self._send(status, headers, payload)
                elif rule.action == "truncate":
                    self._send(status, headers, payload[: len(payload) // 2], full=len(payload))
                    self.close_connection = True
                    self.connection.shutdown(socket.SHUT_RDWR)
                elif rule.action == "reset":
                    # Half the body, or for an empty one no answer at all: the
                    # request took effect upstream but its answer is lost.
                    if payload:
                        self._send(status, headers, payload[: len(payload) // 2],
                                   full=len(payload))
                    self.close_connection = True
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                               struct.pack("ii", 1, 0))

            def _send(self, status, headers, payload, full=None):
                self.send_response_only(status)
                length = str(len(payload) if full is None else full)
                for name, value in headers:
                    lower = name.lower()
                    if lower == "content-length" and self.command == "HEAD":
                        length = value  # a HEAD answer has no body to measure
                    elif lower not in ("content-length", "transfer-encoding", "connection"):
                        self.send_header(name, value)
                self.send_header("Content-Length", length)
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(payload)
                    with proxy.lock:
                        proxy.log.bytes_out += len(payload)
                self.wfile.flush()

            do_GET = do_PUT = do_POST = do_DELETE = do_HEAD = handle_one

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.server.daemon_threads = True
        self.port = self.server.server_address[1]
        self.endpoint = "http://127.0.0.1:%d" % self.port
        self.local = threading.local()

    def _control(self, command, body):
        with self.lock:
            if command == "arm":
                self.rules.append(Rule(**json.loads(body)))
                return len(self.rules) - 1
            if command == "rules":
                return [asdict(rule) for rule in self.rules]
            if command == "log":
                return {"requests": self.log.requests, "bytes_out": self.log.bytes_out}
            if command == "reset":
                self.rules.clear()
                self.log = Log()
                return True
        return None

    def _take(self, method, target):
        with self.lock:
            self.log.requests.append((method, target))
            for rule in self.rules:
                if rule.wants(method, target):
                    return rule
        return None

    def _forward(self, method, target, headers, body):
        conn = getattr(self.local, "conn", None)
        for attempt in range(2):
            if conn is None:
                conn = http.client.HTTPConnection(*self.upstream, timeout=60)
                self.local.conn = conn
            try:
                conn.putrequest(method, target, skip_host=True, skip_accept_encoding=True)
                for name, value in headers.items():
                    if name.lower() != "connection":
                        conn.putheader(name, value)
                conn.endheaders(body if body else None)
                response = conn.getresponse()
                payload = response.read()
                return response.status, response.getheaders(), payload
            except (ConnectionError, http.client.HTTPException):
                conn.close()
                conn = None
                self.local.conn = None
                if attempt == 1:
                    raise


class FaultProxy:
    """The test's handle on a proxy process."""

    def __init__(self, upstream):
        self.process = subprocess.Popen([sys.executable, __file__, upstream],
                                        stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline())
        self.endpoint = "http://127.0.0.1:%d" % self.port

    def _call(self, command, payload=None):
        data = json.dumps(payload).encode() if payload is not None else b""
        request = urllib.request.Request(self.endpoint + "/__proxy__/" + command,
                                         data=data, method="POST")
        with urllib.request.urlopen(request, timeout=10) as response:
            return json.loads(response.read())

    def arm(self, method, pattern, action, **kwargs):
        """Adds a rule; returns its index for rule()."""
        return self._call("arm", dict(method=method, pattern=pattern, action=action,
                                      **kwargs))

    def rule(self, index):
        return self._call("rules")[index]

    def requests(self):
        return [tuple(r) for r in self._call("log")["requests"]]

    def bytes_out(self):
        return self._call("log")["bytes_out"]

    def reset(self):
        self._call("reset")

    def stop(self):
        self.process.kill()
        self.process.wait()
        self.process.stdout.close()


def main():
    server = ProxyServer(sys.argv[1])
    print(server.port, flush=True)
    server.server.serve_forever()


if __name__ == "__main__":
    main()
