#!/usr/bin/python3
"""A small https server for the settings look-up tests, on 127.0.0.1 port 0.

Usage: configserver.py CONFIG.json LOG
CONFIG: {"cert": path, "key": path,
         "routes": {"/path": {"status": 200, "body": "...", "repeat": 1,
                              "location": "https://..."}}}
A route's body is sent `repeat` times (to make a huge answer without a huge file); a route
with "location" answers with that Location header ("{port}" in it is the server's port). Unknown paths answer 404. Every request's
Host header and path go to LOG, one per line. The first line on standard output is
"PORT <n>".
"""
import http.server
import json
import socketserver
import ssl
import sys

CONFIG = {}
LOG_PATH = ""


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def do_GET(self):
        with open(LOG_PATH, "a") as log:
            log.write("%s %s\n" % (self.headers.get("Host", ""), self.path))
        route = CONFIG["routes"].get(self.path)
        if route is None:
            self.send_response(404)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        body = route.get("body", "").encode("utf-8")
        repeat = route.get("repeat", 1)
        self.send_response(route.get("status", 200))
        if "location" in route:
            port = str(self.server.server_address[1])
            self.send_header("Location", route["location"].replace("{port}", port))
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(body) * repeat))
        self.end_headers()
        try:
            for _ in range(repeat):
                self.wfile.write(body)
        except (BrokenPipeError, ConnectionResetError, ssl.SSLError):
            pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True


def main():
    global CONFIG, LOG_PATH
    with open(sys.argv[1]) as f:
        CONFIG = json.load(f)
    LOG_PATH = sys.argv[2]
    open(LOG_PATH, "w").close()
    server = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(CONFIG["cert"], CONFIG["key"])
    server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
