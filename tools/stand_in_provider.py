#!/usr/bin/env python3
"""A stand-in for a Dynamic DNS provider, and the test server of every HTTP
scenario: listens on the loopback only (127.0.0.1, or ::1), on a port the system picks.

Paths it answers (on 127.0.0.1, or ::1 when asked):
  /nic/update       200 "good <address>": records the address the request came from
  /body/N           200 with N bytes of a fixed pattern (streamed, any size)
  /status/N         status N with a small HTML page
  /empty            200 with an empty body
  /stall/N          200 promising 2*N bytes, sends N, then stalls (bounded) and closes
  /reset/N[/S]      status S (200) promising 2*N bytes, sends N, then resets the connection
  /slow/S           200 "slow" after S seconds (bounded)
  /drip             200 promising a long body, then one byte a second (bounded)
  /text/WORD        200 with WORD as the whole body (a provider's "badauth")
  /ip               200 with the address the test set in `address` (a check URL)
  /cut/D/S          200 declaring Content-Length D, sends S bytes of the pattern, then closes
  /chunked/N        200 chunked: N bytes of the pattern in chunks, then the last (empty) chunk
  /chunkcut/N       the same without the last chunk: the connection closes after N bytes
  /nocontent        204 No Content, without a body
  /answer/HEX       200 with the bytes given in hexadecimal as the whole body (a provider's
                    answer of several lines, one per host name)

Run alone it prints each update and serves until interrupted or --seconds pass.
"""
import argparse
import http.server
import socket
import socketserver
import struct
import sys
import threading
import time

STALL_LIMIT_S = 20.0     # the longest any handler waits
PATTERN = bytes(range(256))


def pattern_bytes(offset, count):
    """count bytes of the repeating 0..255 pattern, starting at offset."""
    start = offset % 256
    data = (PATTERN[start:] + PATTERN * (count // 256 + 2))[:count]
    return data


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def log_message(self, fmt, *args):  # keep test output quiet
        pass

    def _send(self, status, body, content_type='text/plain'):
        self.send_response(status)
        self.send_header('Content-Type', content_type)
        self.send_header('Content-Length', str(len(body)))
        self.send_header('Connection', 'close')
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        server = self.server
        server.record(self.path, self.client_address[0], self.headers.get('User-Agent'),
                      dict(self.headers))
        parts = self.path.split('?')[0].strip('/').split('/')
        try:
            if parts[0] == 'nic':
                address = self.client_address[0]
                if server.announce:
                    print(f'provider: update from {address} ({self.path})', flush=True)
                self._send(200, f'good {address}\n'.encode())
            elif parts[0] == 'body':
                self._stream_body(int(parts[1]))
            elif parts[0] == 'status':
                code = int(parts[1])
                self._send(code, f'<html><body><h1>{code}</h1></body></html>\n'.encode(),
                           'text/html')
            elif parts[0] == 'empty':
                self._send(200, b'')
            elif parts[0] == 'stall':
                count = int(parts[1])
                self.send_response(200)
                self.send_header('Content-Length', str(count * 2))
                self.end_headers()
                self.wfile.write(pattern_bytes(0, count))
                self.wfile.flush()
                server.stop_event.wait(STALL_LIMIT_S)
                self.close_connection = True
            elif parts[0] == 'reset':
                count = int(parts[1])
                self.send_response(int(parts[2]) if len(parts) > 2 else 200)
                self.send_header('Content-Length', str(count * 2))
                self.end_headers()
                self.wfile.write(pattern_bytes(0, count))
                self.wfile.flush()
                time.sleep(0.5)
                # a zero linger time makes the close a reset, not an end of data
                self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack('ii', 1, 0))
                self.connection.close()
                self.close_connection = True
            elif parts[0] == 'text':
                self._send(200, parts[1].encode())
            elif parts[0] == 'cut':
                self.send_response(200)
                self.send_header('Content-Length', parts[1])
                self.end_headers()
                self.wfile.write(pattern_bytes(0, int(parts[2])))
                self.close_connection = True
            elif parts[0] in ('chunked', 'chunkcut'):
                self._stream_chunks(int(parts[1]), parts[0] == 'chunked')
            elif parts[0] == 'nocontent':
                self.send_response(204)
                self.end_headers()
                self.close_connection = True
            elif parts[0] == 'answer':
                self._send(200, bytes.fromhex(parts[1]))
            elif parts[0] == 'ip':
                self._send(200, f'{server.address}\r\n'.encode())
            elif parts[0] == 'drip':
                self.send_response(200)
                self.send_header('Content-Length', '1000000')
                self.end_headers()
                self.wfile.flush()
                deadline = time.monotonic() + STALL_LIMIT_S
                while not server.stop_event.wait(1.0) and time.monotonic() < deadline:
                    self.wfile.write(b'.')
                    self.wfile.flush()
                self.close_connection = True
            elif parts[0] == 'slow':
                server.stop_event.wait(min(float(parts[1]), STALL_LIMIT_S))
                self._send(200, b'slow\n')
            else:
                self._send(404, b'unknown path\n')
        except (BrokenPipeError, ConnectionResetError):
            pass

    def _stream_body(self, size):
        self.send_response(200)
        self.send_header('Content-Type', 'application/octet-stream')
        self.send_header('Content-Length', str(size))
        self.end_headers()
        sent = 0
        while sent < size:
            block = pattern_bytes(sent, min(65536, size - sent))
            self.wfile.write(block)
            sent += len(block)

    def _stream_chunks(self, size, last):
        self.send_response(200)
        self.send_header('Transfer-Encoding', 'chunked')
        self.end_headers()
        sent = 0
        while sent < size:
            block = pattern_bytes(sent, min(1000, size - sent))
            self.wfile.write(b'%x\r\n%s\r\n' % (len(block), block))
            sent += len(block)
        if last:
            self.wfile.write(b'0\r\n\r\n')
        self.close_connection = True


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = False

    def __init__(self, max_requests=1000, announce=False, host='127.0.0.1'):
        # host: 127.0.0.1, or ::1 for a record that is updated over IPv6
        self.address_family = socket.AF_INET6 if ':' in host else socket.AF_INET
        self.host = host
        super().__init__((host, 0), Handler)
        self.max_requests = max_requests
        self.announce = announce
        self.requests = []
        self.headers = []  # the request headers, in the order of requests
        self.address = '192.0.2.1'  # what /ip answers
        self.lock = threading.Lock()
        self.stop_event = threading.Event()
        self.thread = None

    @property
    def port(self):
        return self.server_address[1]

    def url(self, path):
        host = f'[{self.host}]' if ':' in self.host else self.host
        return f'http://{host}:{self.port}{path}'

    def record(self, path, address, agent, headers=None):
        with self.lock:
            self.requests.append((path, address, agent))
            self.headers.append(headers or {})
            if len(self.requests) >= self.max_requests:
                threading.Thread(target=self.shutdown, daemon=True).start()

    def start(self):
        self.thread = threading.Thread(target=self.serve_forever, kwargs={'poll_interval': 0.1},
                                       daemon=True)
        self.thread.start()
        return self

    def stop(self):
        self.stop_event.set()
        self.shutdown()
        self.server_close()


class ForwardingProxy(socketserver.ThreadingMixIn, socketserver.TCPServer):
    """A small HTTP proxy on 127.0.0.1: takes absolute-form GETs for
    127.0.0.1 only, forwards them in origin form and relays the reply."""
    daemon_threads = True

    def __init__(self, max_requests=100):
        super().__init__(('127.0.0.1', 0), ProxyHandler)
        self.max_requests = max_requests
        self.requests = []  # request lines as received
        self.lock = threading.Lock()

    @property
    def port(self):
        return self.server_address[1]

    def start(self):
        threading.Thread(target=self.serve_forever, kwargs={'poll_interval': 0.1},
                         daemon=True).start()
        return self

    def stop(self):
        self.shutdown()
        self.server_close()


class ProxyHandler(socketserver.StreamRequestHandler):
    timeout = STALL_LIMIT_S

    def handle(self):
        head = []
        while len(head) < 100:
            line = self.rfile.readline(8192)
            if line in (b'', b'\r\n', b'\n'):
                break
            head.append(line)
        if not head:
            return
        method, target, version = head[0].decode('latin-1').split()
        with self.server.lock:
            self.server.requests.append(head[0].decode('latin-1').strip())
            if len(self.server.requests) > self.server.max_requests:
                return
        prefix = 'http://127.0.0.1:'
        if not target.startswith(prefix):
            self.wfile.write(b'HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n')
            return
        port, _, path = target[len(prefix):].partition('/')
        with socket.create_connection(('127.0.0.1', int(port)), timeout=STALL_LIMIT_S) as up:
            up.sendall(f'{method} /{path} {version}\r\n'.encode('latin-1'))
            for line in head[1:]:
                if not line.lower().startswith((b'proxy-connection:', b'connection:')):
                    up.sendall(line)
            up.sendall(b'Connection: close\r\n\r\n')
            while True:
                data = up.recv(65536)
                if not data:
                    break
                self.wfile.write(data)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--seconds', type=float, default=3600.0)
    parser.add_argument('--port-file')
    args = parser.parse_args()
    server = Server(announce=True).start()
    if args.port_file:
        with open(args.port_file, 'w') as f:
            f.write(str(server.port))
    print(f'provider: listening on 127.0.0.1:{server.port}', flush=True)
    try:
        time.sleep(args.seconds)
    except KeyboardInterrupt:
        pass
    server.stop()
    return 0


if __name__ == '__main__':
    sys.exit(main())
