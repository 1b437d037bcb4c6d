#!/usr/bin/python3
"""A simulated OAuth 2.0 authorization server for the sign-in tests.

Usage: oauthserver.py CLIENT_ID

Listens on 127.0.0.1 port 0 and prints "PORT <n>" on standard output once ready. It never
prints or logs a token, code or verifier.

  GET  /authorize   RFC 6749 4.1.1 with PKCE S256: answers 302 to the loopback redirect_uri
                    with a one-use code bound to the challenge, the redirect and the user
                    (login_hint, default "alice"). error=access_denied when
                    login_hint is "refuse".
  POST /token       authorization_code (checks the code, redirect_uri, client_id and that
                    S256(code_verifier) is the challenge) and refresh_token (invalid_grant
                    for a revoked or unknown one); access tokens live LIFETIME seconds
  POST /introspect  RFC 7662 for Dovecot's oauth2 passdb: {"active", "username"}
  POST /control/lifetime?seconds=N     the lifetime of tokens issued from now on
  POST /control/revoke                 revokes every refresh token
  POST /control/expire                 makes every access token inactive
  GET  /control/stats                  {"authorize", "code", "refresh", "refused",
                                        "introspect", "active"} counts
"""
import base64
import hashlib
import json
import secrets
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlencode, urlsplit

CLIENT_ID = sys.argv[1] if len(sys.argv) > 1 else "test-client"
LOCK = threading.Lock()
CODES = {}     # code -> {challenge, redirect, user}
REFRESH = {}   # refresh token -> user
ACCESS = {}    # access token -> user
STATS = {"authorize": 0, "code": 0, "refresh": 0, "refused": 0, "introspect": 0, "active": 0}
LIFETIME = [3600]


def s256(verifier):
    digest = hashlib.sha256(verifier.encode("ascii")).digest()
    return base64.urlsafe_b64encode(digest).decode("ascii").rstrip("=")


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass  # requests carry secrets: nothing is logged

    def reply(self, status, body, headers=None):
        data = json.dumps(body).encode("utf-8") if body is not None else b""
        self.send_response(status)
        for name, value in (headers or {}).items():
            self.send_header(name, value)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.send_header("Cache-Control", "no-store")
        self.end_headers()
        self.wfile.write(data)

    def form(self):
        length = int(self.headers.get("Content-Length") or 0)
        raw = self.rfile.read(length).decode("utf-8", "replace") if length else ""
        return {k: v[0] for k, v in parse_qs(raw, keep_blank_values=True).items()}

    def issue(self, user, with_refresh=True):
        access = secrets.token_urlsafe(24)
        ACCESS[access] = user
        body = {"access_token": access, "token_type": "Bearer", "expires_in": LIFETIME[0]}
        if with_refresh:
            refresh = secrets.token_urlsafe(24)
            REFRESH[refresh] = user
            body["refresh_token"] = refresh
        return body

    def do_GET(self):
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        if url.path == "/control/stats":
            with LOCK:
                return self.reply(200, dict(STATS))
        if url.path != "/authorize":
            return self.reply(404, {"error": "not_found"})
        with LOCK:
            STATS["authorize"] += 1
            redirect = query.get("redirect_uri", "")
            if not redirect.startswith("http://127.0.0.1:"):
                return self.reply(400, {"error": "invalid_request"})
            state = query.get("state", "")
            user = query.get("login_hint", "alice")
            if (query.get("client_id") != CLIENT_ID or query.get("response_type") != "code"
                    or query.get("code_challenge_method") != "S256"
                    or not query.get("code_challenge")):
                target = redirect + "?" + urlencode({"error": "invalid_request", "state": state})
            elif user == "refuse":
                target = redirect + "?" + urlencode({"error": "access_denied", "state": state})
            else:
                code = secrets.token_urlsafe(16)
                CODES[code] = {"challenge": query["code_challenge"], "redirect": redirect,
                               "user": user}
                target = redirect + "?" + urlencode({"code": code, "state": state})
        self.reply(302, None, {"Location": target})

    def do_POST(self):
        url = urlsplit(self.path)
        query = {k: v[0] for k, v in parse_qs(url.query).items()}
        form = self.form()
        with LOCK:
            if url.path == "/control/lifetime":
                LIFETIME[0] = int(query.get("seconds", "3600"))
                return self.reply(200, {})
            if url.path == "/control/revoke":
                REFRESH.clear()
                return self.reply(200, {})
            if url.path == "/control/expire":
                ACCESS.clear()
                return self.reply(200, {})
            if url.path == "/introspect":
                STATS["introspect"] += 1
                user = ACCESS.get(form.get("token", ""))
                if user is None:
                    return self.reply(200, {"active": False})
                STATS["active"] += 1
                return self.reply(200, {"active": True, "username": user})
            if url.path != "/token":
                return self.reply(404, {"error": "not_found"})
            if form.get("client_id") != CLIENT_ID:
                return self.reply(401, {"error": "invalid_client"})
            grant = form.get("grant_type")
            if grant == "authorization_code":
                STATS["code"] += 1
                entry = CODES.pop(form.get("code", ""), None)
                if (entry is None or entry["redirect"] != form.get("redirect_uri")
                        or s256(form.get("code_verifier", "")) != entry["challenge"]):
                    return self.reply(400, {"error": "invalid_grant"})
                return self.reply(200, self.issue(entry["user"]))
            if grant == "refresh_token":
                STATS["refresh"] += 1
                user = REFRESH.get(form.get("refresh_token", ""))
                if user is None:
                    STATS["refused"] += 1
                    return self.reply(400, {"error": "invalid_grant",
                                            "error_description": "the grant was revoked"})
                return self.reply(200, self.issue(user, with_refresh=False))
            return self.reply(400, {"error": "unsupported_grant_type"})


def main():
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
