#!/usr/bin/python3
"""A simulated HTTPMail (WebDAV) mail service for the web-mail tests and the benchmark.

Usage: httpmailserver.py CONFIG.json LOG.jsonl

Listens on 127.0.0.1 port 0, prints "PORT <n>" on standard output once ready, and appends
one JSON line per request to LOG (method, path, host, authorization, destination, status).

CONFIG:
  user, domain, password   the account; Digest user is user@domain
  folders   [{"name", "special", "messages": [{"id", "from", "subject", "date", "size",
              "read", "attachment", "probe"}]}]; "probe" puts an attachment part in the GET
  mode      "" (normal), "silent" (accept, never answer), "drip" (answer one byte every half
            second, never pausing long enough to be silent), "silentget" (GETs are logged with
            status 0 and never answered), "silentmove" (the same for MOVEs), "always401" (every Digest answer
            gets a fresh challenge), "status500", "status503", "redirectloop",
            "redirectftp", "redirecthttp", "redirecthost" (the gateway sends the client to "localhost"),
            "hugeanswer" (a 17 MiB answer), "badpassword" (a wrong answer gets 401 with "Bad Password"), "rawrootanswer"
            (the root answer is config["rawroot"] as it stands)
  rawfolders  when set, the 207 answer to the folder list, as it stands
  prefixes  {"D": .., "m": .., "hm": ..}: the prefixes the answers use (default D, m, hm)
  extraFolders  n folders with one unread message each (before the deleted-items folder
            with "deletedLast")
  tls       {"cert": PEM file, "key": PEM file}: serve https instead of http
"""
import hashlib
import json
import os
import secrets
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from xml.sax.saxutils import escape

GATEWAY = "/svcs/hotmail/httpmail.asp"
CONFIG = {}
LOG_PATH = ""
LOCK = threading.Lock()
NONCES = set()
FOLDERS = []  # [{"name", "special", "messages": [...]}]


def md5(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def parse_auth(value):
    """Digest auth-params of an Authorization header."""
    if not value.startswith("Digest "):
        return {}
    out, s, i = {}, value[7:], 0
    while i < len(s):
        while i < len(s) and s[i] in " ,":
            i += 1
        eq = s.find("=", i)
        if eq < 0:
            break
        name = s[i:eq].strip()
        i = eq + 1
        if i < len(s) and s[i] == '"':
            i += 1
            v = ""
            while i < len(s) and s[i] != '"':
                if s[i] == "\\":
                    i += 1
                v += s[i]
                i += 1
            i += 1
        else:
            end = s.find(",", i)
            end = len(s) if end < 0 else end
            v = s[i:end].strip()
            i = end
        out[name] = v
    return out


def build_folders():
    for f in CONFIG.get("folders", []):
        FOLDERS.append({"name": f["name"], "special": f.get("special", ""),
                        "messages": list(f.get("messages", []))})
    extra = CONFIG.get("extraFolders", 0)
    for n in range(extra):
        FOLDERS.insert(len(FOLDERS) - 1 if CONFIG.get("deletedLast") else len(FOLDERS),
                       {"name": "extra%02d" % n, "special": "",
                        "messages": [{"id": "X%02d" % n, "subject": "extra %d" % n}]})


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def setup(self):
        super().setup()
        # Headers and body go out in two writes; without this the second waits for the
        # client's delayed acknowledgement on a kept-alive connection.
        self.connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def base(self):
        # The address the client used (a proxy in front of us included).
        scheme = "https" if CONFIG.get("tls") else "http"
        return scheme + "://" + self.headers.get("Host", "127.0.0.1:%d" % self.server.server_address[1])

    def record(self, status):
        entry = {"method": self.command, "path": self.path,
                 "host": self.headers.get("Host", ""),
                 "authorization": self.headers.get("Authorization", ""),
                 "destination": self.headers.get("Destination", ""),
                 "status": status}
        with LOCK:
            with open(LOG_PATH, "a") as log:
                log.write(json.dumps(entry) + "\n")

    def reply(self, status, body=b"", headers=()):
        self.record(status)
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def drip(self):
        """A 207 whose 120-byte body takes a minute: never silent, far below any floor rate."""
        self.record(207)
        self.send_response(207)
        self.send_header("Content-Length", "120")
        self.end_headers()
        try:
            for _ in range(120):
                self.wfile.write(b" ")
                self.wfile.flush()
                time.sleep(0.5)
        except OSError:
            pass  # the client gave up, as it should

    def challenge(self, bad=False):
        nonce = secrets.token_hex(16)
        with LOCK:
            NONCES.add(nonce)
        headers = [("WWW-Authenticate",
                    'Digest qop="auth", opaque="op-%s", nonce="%s", realm="hm realm", '
                    'algorithm=MD5' % (nonce[:6], nonce))]
        if bad:
            headers.append(("X-Reason", "Bad Password"))
        self.reply(401, b"", headers)

    def authorized(self):
        """True for a valid Digest answer; else answers the 401 itself."""
        params = parse_auth(self.headers.get("Authorization", ""))
        if not params:
            self.challenge()
            return False
        if CONFIG.get("mode") == "always401":
            self.challenge()
            return False
        user = CONFIG["user"] + "@" + CONFIG["domain"]
        ha1 = md5("%s:%s:%s" % (user, "hm realm", CONFIG["password"]))
        ha2 = md5("%s:%s" % (self.command, params.get("uri", "")))
        want = md5("%s:%s:%s:%s:auth:%s" % (ha1, params.get("nonce", ""), params.get("nc", ""),
                                            params.get("cnonce", ""), ha2))
        ok = (params.get("nonce") in NONCES and params.get("username") == user and
              params.get("uri") == self.path and params.get("response") == want and
              params.get("opaque") == "op-" + params.get("nonce", "")[:6] and
              params.get("qop") == "auth" and len(params.get("cnonce", "")) >= 16)
        if not ok:
            self.challenge(bad=CONFIG.get("mode") == "badpassword")
            return False
        return True

    def multistatus(self, responses):
        p = CONFIG.get("prefixes", {})
        d, m, hm = p.get("D", "D"), p.get("m", "m"), p.get("hm", "hm")
        out = ['<?xml version="1.0" encoding="UTF-8"?>',
               '<%s:multistatus xmlns:%s="DAV:" xmlns:%s="urn:schemas:mailheader:" '
               'xmlns:%s="urn:schemas:httpmail:">' % (d, d, m, hm)]
        for href, props in responses:
            out.append('<%s:response><%s:href>%s</%s:href><%s:propstat><%s:prop>'
                       % (d, d, escape(href), d, d, d))
            for name, value in props:
                prefix, local = name.split(":")
                prefix = {"D": d, "m": m, "hm": hm}[prefix]
                out.append('<%s:%s x="1">%s</%s:%s>' % (prefix, local, escape(str(value)),
                                                        prefix, local))
            out.append('</%s:prop><%s:status>HTTP/1.1 200 OK</%s:status></%s:propstat>'
                       '</%s:response>' % (d, d, d, d, d))
        out.append("</%s:multistatus>" % d)
        return "\r\n".join(out).encode("utf-8")

    def folder_by_path(self, path):
        for f in FOLDERS:
            if path == "/folders/%s/" % f["name"]:
                return f
        return None

    def do_PROPFIND(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        mode = CONFIG.get("mode", "")
        if mode == "silent":
            time.sleep(30)
            return
        if mode == "drip":
            return self.drip()
        if mode == "hugeanswer":
            return self.reply(207, b" " * (17 * 1024 * 1024))
        if mode == "status500":
            return self.reply(500)
        if mode == "status503":
            return self.reply(503)
        if mode == "redirectloop":
            return self.reply(302, headers=[("Location", self.path + "x")])
        if mode == "redirecthttp":
            port = self.server.server_address[1]
            return self.reply(302, headers=[("Location", "http://127.0.0.1:%d%s" % (port, GATEWAY))])
        if mode == "redirectftp":
            return self.reply(302, headers=[("Location", "ftp://127.0.0.1/x")])
        if mode == "redirecthost" and self.headers.get("Host", "").startswith("127.0.0.1"):
            if not self.authorized():
                return
            port = self.server.server_address[1]
            scheme = "https" if CONFIG.get("tls") else "http"
            return self.reply(302, headers=[("Location", "%s://localhost:%d%s" % (scheme, port, GATEWAY))])
        if not self.authorized():
            return
        with LOCK:
            with open(LOG_PATH + ".bodies", "a") as log:
                log.write(json.dumps(body) + "\n")
        if self.path == GATEWAY:
            if mode == "rawrootanswer":
                return self.reply(207, CONFIG["rawroot"].encode("utf-8"))
            return self.reply(207, self.multistatus(
                [(self.base() + GATEWAY, [("hm:msgfolderroot", self.base() + "/folders/")])]))
        if self.path == "/folders/" and "rawfolders" in CONFIG:
            return self.reply(207, CONFIG["rawfolders"].encode("utf-8"))
        if self.path == "/folders/":
            responses = []
            with LOCK:
                for f in FOLDERS:
                    unread = sum(1 for m in f["messages"] if not m.get("read"))
                    responses.append((self.base() + "/folders/%s/" % f["name"],
                                      [("D:isfolder", 1), ("hm:special", f["special"]),
                                       ("hm:unreadcount", unread), ("D:hassubs", 0)]))
            responses.append((self.base() + "/folders/notafolder", [("D:isfolder", 0)]))
            return self.reply(207, self.multistatus(responses))
        with LOCK:
            folder = self.folder_by_path(self.path)
            messages = list(folder["messages"]) if folder else None
        if messages is None:
            return self.reply(404)
        responses = []
        for msg in messages:
            responses.append((self.base() + "/folders/%s/%s" % (folder["name"], msg["id"]),
                              [("hm:read", 1 if msg.get("read") else 0),
                               ("m:from", msg.get("from", "someone@example.org")),
                               ("m:subject", msg.get("subject", "")),
                               ("m:date", msg.get("date", "2026-12-07T10:11:12")),
                               ("D:getcontentlength", msg.get("size", 2048)),
                               ("hm:hasattachment", 1 if msg.get("attachment") else 0)]))
        return self.reply(207, self.multistatus(responses))

    def find_message(self, path):
        for f in FOLDERS:
            for msg in f["messages"]:
                if path == "/folders/%s/%s" % (f["name"], msg["id"]):
                    return f, msg
        return None, None

    def do_GET(self):
        if CONFIG.get("mode") == "silentget":
            self.record(0)
            time.sleep(30)
            return
        with LOCK:
            _, msg = self.find_message(self.path)
        if msg is None:
            return self.reply(404)
        text = "From: %s\r\nSubject: %s\r\nContent-Type: multipart/mixed; boundary=b\r\n\r\n" \
               "--b\r\nContent-Type: text/plain\r\n\r\nHello\r\n" % (msg.get("from", ""),
                                                                      msg.get("subject", ""))
        if msg.get("probe"):
            text += "--b\r\nContent-Type: application/pdf\r\n" \
                    "Content-Disposition: attachment; filename=a.pdf\r\n\r\nJVBERi0=\r\n"
        text += "--b--\r\n"
        self.reply(200, text.encode("utf-8"), [("Content-Type", "message/rfc822")])

    def do_MOVE(self):
        if CONFIG.get("mode") == "silentmove":
            self.record(0)
            time.sleep(30)
            return
        destination = self.headers.get("Destination", "")
        with LOCK:
            folder, msg = self.find_message(self.path)
            if msg is not None:
                folder["messages"].remove(msg)
                for f in FOLDERS:
                    if destination.startswith(self.base() + "/folders/%s/" % f["name"]):
                        f["messages"].append(dict(msg, id=destination.rsplit("/", 1)[-1]))
        self.reply(201 if msg is not None else 404)


class Server(ThreadingHTTPServer):
    daemon_threads = True
    request_queue_size = 64


def main():
    global CONFIG, LOG_PATH
    with open(sys.argv[1]) as f:
        CONFIG = json.load(f)
    LOG_PATH = sys.argv[2]
    build_folders()
    server = Server(("127.0.0.1", 0), Handler)
    if CONFIG.get("tls"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(CONFIG["tls"]["cert"], CONFIG["tls"]["key"])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
