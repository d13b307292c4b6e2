"""A loopback HTTP proxy in front of an S3 endpoint that injects faults.

It forwards each request unchanged (the Host header included, so request
signatures still verify upstream) and counts what passes. A test arms rules:
each rule matches requests by method and a predicate on the path and query,
fires on chosen occurrences, and then does one of:

  status       answer with an HTTP error and an S3 <Error> body, not forwarded
  reset        forward, then send half the response body and reset the socket
  truncate     forward, then send the headers and half the body and close
  error_in_200 answer 200 with an <Error> body, not forwarded (what a failed
               multipart completion looks like)

Used by the fault tests and by the benchmark's request counts.
"""
import http.client
import http.server
import socket
import struct
import threading
from dataclasses import dataclass, field
from urllib.parse import urlsplit

ERROR_BODY = ('<?xml version="1.0" encoding="UTF-8"?><Error><Code>{code}</Code>'
              '<Message>injected by the fault proxy</Message>'
              '<RequestId>proxy-{n}</RequestId></Error>')


@dataclass
class Rule:
    method: str
    match: object                 # callable(path_and_query) -> bool
    action: str                   # status | reset | truncate | error_in_200
    status: int = 503
    code: str = "ServiceUnavailable"
    times: int = 1                # fire on this many matching requests
    skip: int = 0                 # let this many matching requests through first
    seen: int = 0
    fired: int = 0

    def wants(self, method, target):
        if method != self.method or not self.match(target):
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


class FaultProxy:
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
                    self._send(status, headers, payload[: len(payload) // 2], full=len(payload))
                    self.close_connection = True
                    self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                               struct.pack("ii", 1, 0))

            def _send(self, status, headers, payload, full=None):
                self.send_response_only(status)
                for name, value in headers:
                    if name.lower() not in ("content-length", "transfer-encoding",
                                            "connection"):
                        self.send_header(name, value)
                self.send_header("Content-Length",
                                 str(len(payload) if full is None else full))
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
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)
        self.local = threading.local()

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.server.shutdown()
        self.server.server_close()

    def arm(self, method, match, action, **kwargs):
        """Adds a rule; `match` is a substring of the path and query, or a
        callable taking them."""
        if isinstance(match, str):
            text = match
            match = lambda target: text in target  # noqa: E731
        rule = Rule(method, match, action, **kwargs)
        with self.lock:
            self.rules.append(rule)
        return rule

    def reset(self):
        with self.lock:
            self.rules.clear()
            self.log = Log()

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
