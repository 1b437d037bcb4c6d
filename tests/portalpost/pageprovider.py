#!/usr/bin/python3
"""A simulated page-reading web-mail provider for the client's tests.

Usage: pageprovider.py SCENARIO.json LOG.jsonl

Listens on two ports of 127.0.0.1 (the mail host and the log-in host, each port 0), prints
"PORTS <mail> <login>" on standard output and serves until standard input closes. Every
request is appended to LOG as one JSON line: host ("mail" or "login"), method, path, body.

The scenario (JSON) says what the provider holds and how it misbehaves:
  user, password       the account
  challenge            the log-in challenge (may hold characters that need encoding)
  layout               "row" or "table": how message lists are written
  address              the text after the user name on the start page ("@yahoo.com" ...)
  folders              [{name, count (show "(n)" after the link), messages: [...]}]
                       message: {id, from, subject, date, size, attachment, read, nolink}
  perPage              messages per list page (default 50)
  duplicateLinks       how often each folder link appears on the start page (default 1)
  silent               a path prefix that is accepted and never answered
  status               {path prefix: HTTP status} answered instead of the page
  noLogoutLink         the start page has no log-out link
  tls                  {cert, key}: both listeners speak https
"""

import hashlib
import html
import json
import ssl
import sys
import threading
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

scenario = json.load(open(sys.argv[1]))
log_file = open(sys.argv[2], "a")
log_lock = threading.Lock()
state_lock = threading.Lock()
sessions = set()
never = threading.Event()
ports = {}

PER_PAGE = scenario.get("perPage", 50)
SCHEME = "https" if scenario.get("tls") else "http"
LAYOUT = scenario.get("layout", "row")


def md5hex(text):
    return hashlib.md5(text.encode("utf-8")).hexdigest()


def folder(name):
    for f in scenario["folders"]:
        if f["name"] == name:
            return f
    return None


def login_form():
    value = html.escape(scenario.get("challenge", "abc"), quote=True)
    return ("<html><body><form method=post action=\"/config/login?\" name=login_form>"
            "<input type=text name=login><input type=password name=passwd>"
            "<input type=hidden name=\".challenge\" value=\"%s\">"
            "<input type=submit value=\"Sign In\"></form></body></html>" % value)


def start_page():
    parts = ["<html><body><p>Welcome, %s%s</p><ul>" % (scenario["user"], scenario.get("address", ""))]
    for _ in range(scenario.get("duplicateLinks", 1)):
        for f in scenario["folders"]:
            unread = len([m for m in f["messages"] if not m.get("read")])
            count = " (%d)" % unread if f.get("count", True) else ""
            parts.append("<li><a href=\"/ym/ShowFolder?YY=7&amp;box=%s\">%s</a>%s</li>"
                         % (f["name"], f["name"], count))
    parts.append("</ul>")
    if not scenario.get("noLogoutLink"):
        parts.append("<a href=\"/ym/Logout?YY=7&amp;.rand=3\">Sign Out</a>")
    parts.append("</body></html>")
    return "".join(parts)


def row(m):
    if LAYOUT == "row":
        link = "/ym/ShowLetter?MsgId=%s&amp;box=x" % m["id"]
        if m.get("attachment"):
            link += "&#attachments"
        subject = m["subject"] if m.get("nolink") else "<a href=\"%s\">%s</a>" % (link, m["subject"])
        return ("<tr class=%s><td><input type=checkbox name=\"Mid\" value=\"%s\"></td>"
                "<td><b>%s</b></td><td><b>%s</b></td><td><b>%s</b></td><td><b>%s</b></td></tr>\n"
                % ("msgold" if m.get("read") else "msgnew", m["id"], m["from"], subject,
                   m["date"], m["size"]))
    toc = ("<a href=\"/ym/ShowLetter?toc=1&MsgId=%s\">clip</a>" % m["id"]) if m.get("attachment") else ""
    return ("<tr><td><input type=checkbox name=\"Mid\" value=\"%s\"></td>"
            "<td><b>%s</b></td><td><b>%s</b></td><td><b>%s</b></td>"
            "<td><b><a href=\"/ym/ShowLetter?MsgId=%s&amp;box=x\">%s</a></b></td><td>%s</td></tr>\n"
            % (m["id"], m["from"], m["date"], m["size"], m["id"], m["subject"], toc))


def list_page(f, messages, paging):
    parts = ["<html><body><a href=\"/ym/ShowFolder?Search=&Nview=u&box=%s\">Unread</a>" % f["name"],
             "<form name=messageList method=post action=\"/ym/ShowFolder?box=%s&amp;DEL=1\">" % f["name"],
             "<input type=hidden name=\".crumb\" value=\"cr&amp;umb\"><table>"]
    parts += [row(m) for m in messages]
    parts.append("</table></form>")
    if paging:
        unread = [m for m in f["messages"] if not m.get("read")]
        for pos in range(PER_PAGE, len(unread), PER_PAGE):
            parts.append("<a href=\"/ym/ShowFolder?Search=&Npos=%d&box=%s\">next</a>" % (pos, f["name"]))
    parts.append("</body></html>")
    return "".join(parts)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def host(self):
        return "mail" if self.server.server_port == ports["mail"] else "login"

    def reply(self, status, body="", headers=()):
        data = body.encode("utf-8")
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def redirect(self, location, headers=()):
        self.reply(302, "", [("Location", location)] + list(headers))

    def record(self, body):
        with log_lock:
            log_file.write(json.dumps({"host": self.host(), "method": self.command,
                                       "path": self.path, "body": body}) + "\n")
            log_file.flush()

    def signed_in(self):
        cookie = self.headers.get("Cookie", "")
        with state_lock:
            return any(("Y=" + s) in cookie for s in sessions)

    def misbehave(self):
        if scenario.get("silent") and self.path.startswith(scenario["silent"]):
            never.wait()
            return True
        for prefix, status in scenario.get("status", {}).items():
            if self.path.startswith(prefix):
                self.reply(status, "<html>no</html>")
                return True
        return False

    def do_GET(self):
        self.record("")
        if self.misbehave():
            return
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        mail = "%s://127.0.0.1:%d" % (SCHEME, ports["mail"])
        login = "%s://127.0.0.1:%d" % (SCHEME, ports["login"])
        if self.host() == "login":
            if url.path == "/config/login" and "logout" in query:
                with state_lock:
                    sessions.clear()
                return self.reply(200, "<html>Signed out</html>")
            if url.path == "/config/login":
                challenge = scenario.get("challenge", "abc")
                good = (query.get("login") == [scenario["user"]]
                        and query.get(".challenge") == [challenge]
                        and query.get("passwd") == [md5hex(md5hex(scenario["password"]) + challenge)])
                if not good:
                    return self.reply(200, login_form())
                with state_lock:
                    token = "s%d" % (len(sessions) + 1)
                    sessions.add(token)
                return self.redirect(mail + "/ym/login?.rand=1", [("Set-Cookie", "Y=%s; Path=/" % token)])
            if url.path == "/bye":
                return self.reply(200, "<a href=\"/config/login?logout=1&.src=ym\">again</a>")
            return self.reply(200, login_form())
        # The mail host.
        if not self.signed_in():
            return self.redirect(login + "/?.src=ym")
        if url.path == "/ym/login":
            return self.redirect("/ym/Welcome?.rand=2")
        if url.path == "/ym/Welcome":
            return self.reply(200, start_page())
        if url.path == "/ym/Logout":
            with state_lock:
                sessions.clear()
            return self.redirect(login + "/bye")
        if url.path == "/ym/ShowFolder":
            f = folder(query.get("box", [""])[0])
            if f is None:
                return self.reply(404, "no such folder")
            if "Nview" in query or "Npos" in query:
                pos = int(query.get("Npos", ["0"])[0])
                unread = [m for m in f["messages"] if not m.get("read")]
                return self.reply(200, list_page(f, unread[pos:pos + PER_PAGE], True))
            return self.reply(200, list_page(f, f["messages"][:PER_PAGE], False))
        return self.reply(404, "not here")

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        body = self.rfile.read(length).decode("utf-8", "replace")
        self.record(body)
        if self.misbehave():
            return
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        form = urllib.parse.parse_qs(body, keep_blank_values=True)
        f = folder(query.get("box", [""])[0])
        if (self.host() != "mail" or not self.signed_in() or f is None
                or form.get(".crumb") != ["cr&umb"] or form.get("DEL") != ["1"]):
            return self.reply(400, "bad delete")
        doomed = set(form.get("Mid", []))
        with state_lock:
            f["messages"] = [m for m in f["messages"] if m["id"] not in doomed]
        return self.redirect("/ym/ShowFolder?box=%s" % f["name"])


def serve(server):
    server.serve_forever()


servers = {}
for name in ("mail", "login"):
    servers[name] = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    servers[name].daemon_threads = True
    ports[name] = servers[name].server_port
    if scenario.get("tls"):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(scenario["tls"]["cert"], scenario["tls"]["key"])
        servers[name].socket = context.wrap_socket(servers[name].socket, server_side=True)
    threading.Thread(target=serve, args=(servers[name],), daemon=True).start()

print("PORTS %d %d" % (ports["mail"], ports["login"]), flush=True)
sys.stdin.read()  # ends when the test closes the pipe (or dies)
