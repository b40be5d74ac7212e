"""A loopback OAuth 2.0 authorization server over HTTPS for the sign-on
tests: token endpoint (refresh token, device code and authorization code
grants), device authorization endpoint, authorization endpoint (redirects at
once, as if the person had agreed) and RFC 8414 metadata.

Prints the port (chosen by the system) as the first line of standard output
and serves until its standard input closes. The --store folder holds
access_tokens (every access token issued, one a line: what the SMTP server
accepts), refresh_tokens (the one valid now) and requests.json (every
request's path and form).

--rotate issues a new refresh token with every refresh and revokes the old
one; --pending N answers the device grant's first N polls with
authorization_pending; --no-device leaves the device endpoint out of the
metadata.
"""

import argparse
import base64
import hashlib
import json
import secrets
import ssl
import sys
import threading
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path
from urllib.parse import parse_qs, urlencode, urlsplit

CLIENT_ID = "client-1"


class Authority:
    def __init__(self, options):
        self.options = options
        self.store = Path(options.store)
        self.store.mkdir(parents=True, exist_ok=True)
        self.lock = threading.Lock()
        self.refresh = options.refresh_token
        self.access = []
        self.requests = []
        self.devices = {}  # device_code -> polls so far
        self.codes = {}  # authorization code -> (challenge, redirect_uri)
        self.save()

    def save(self):
        (self.store / "access_tokens").write_text("".join(t + "\n" for t in self.access))
        (self.store / "refresh_tokens").write_text(self.refresh + "\n")
        (self.store / "requests.json").write_text(json.dumps(self.requests))

    def grant(self, with_refresh):
        access = "at-" + secrets.token_urlsafe(24)
        self.access.append(access)
        reply = {"access_token": access, "token_type": "Bearer", "expires_in": 3599,
                 "scope": "https://outlook.office.com/SMTP.Send"}
        if with_refresh:
            self.refresh = "rt-" + secrets.token_urlsafe(600)  # as long as Microsoft's
            reply["refresh_token"] = self.refresh
        return 200, reply

    def token(self, form):
        grant = form.get("grant_type")
        if form.get("client_id") != CLIENT_ID:
            return 400, {"error": "invalid_client", "error_description": "unknown client"}
        if grant == "refresh_token":
            if form.get("refresh_token") != self.refresh:
                return 400, {"error": "invalid_grant",
                             "error_description": "AADSTS70000: The refresh token was revoked.",
                             "error_codes": [70000]}
            return self.grant(self.options.rotate)
        if grant == "urn:ietf:params:oauth:grant-type:device_code":
            code = form.get("device_code")
            if code not in self.devices:
                return 400, {"error": "expired_token"}
            self.devices[code] += 1
            if self.devices[code] <= self.options.pending:
                return 400, {"error": "authorization_pending"}
            del self.devices[code]
            return self.grant(True)
        if grant == "authorization_code":
            challenge, redirect = self.codes.pop(form.get("code"), (None, None))
            verifier = form.get("code_verifier", "")
            computed = base64.urlsafe_b64encode(
                hashlib.sha256(verifier.encode()).digest()).rstrip(b"=").decode()
            if challenge is None or computed != challenge or redirect != form.get("redirect_uri"):
                return 400, {"error": "invalid_grant"}
            return self.grant(True)
        return 400, {"error": "unsupported_grant_type"}


def make_handler(authority, port):
    origin = f"https://{authority.options.host}:{port}"

    class Handler(BaseHTTPRequestHandler):
        def log_message(self, *args):
            pass

        def reply(self, status, body):
            data = json.dumps(body).encode()
            self.send_response(status)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(data)))
            self.end_headers()
            self.wfile.write(data)

        def do_GET(self):
            url = urlsplit(self.path)
            query = {k: v[0] for k, v in parse_qs(url.query).items()}
            with authority.lock:
                authority.requests.append({"path": url.path, "form": query})
                authority.save()
                if url.path == "/.well-known/oauth-authorization-server":
                    meta = {"issuer": origin, "token_endpoint": origin + "/token",
                            "authorization_endpoint": origin + "/authorize"}
                    if not authority.options.no_device:
                        meta["device_authorization_endpoint"] = origin + "/devicecode"
                    return self.reply(200, meta)
                if url.path == "/authorize" and query.get("code_challenge_method") == "S256":
                    code = secrets.token_urlsafe(16)
                    authority.codes[code] = (query["code_challenge"], query["redirect_uri"])
                    self.send_response(302)
                    self.send_header("Location", query["redirect_uri"] + "?" + urlencode(
                        {"code": code, "state": query["state"]}))
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return None
            return self.reply(404, {"error": "not_found"})

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            form = {k: v[0] for k, v in parse_qs(self.rfile.read(length).decode()).items()}
            with authority.lock:
                authority.requests.append({"path": self.path, "form": form})
                if self.path == "/token":
                    status, body = authority.token(form)
                elif self.path == "/devicecode":
                    code = secrets.token_urlsafe(16)
                    authority.devices[code] = 0
                    status, body = 200, {"device_code": code, "user_code": "WDJB-MJHT",
                                         "verification_uri": origin + "/device",
                                         "expires_in": 900, "interval": 1}
                else:
                    status, body = 404, {"error": "not_found"}
                authority.save()
            self.reply(status, body)

    return Handler


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--store", required=True)
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"), required=True)
    parser.add_argument("--host", default="127.0.0.1", help="the name in the addresses given")
    parser.add_argument("--refresh-token", default="")
    parser.add_argument("--rotate", action="store_true")
    parser.add_argument("--pending", type=int, default=0)
    parser.add_argument("--no-device", action="store_true")
    options = parser.parse_args()
    authority = Authority(options)
    server = ThreadingHTTPServer(("127.0.0.1", 0), None)
    port = server.server_address[1]
    server.RequestHandlerClass = make_handler(authority, port)
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(*options.tls)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    print(port, flush=True)
    while sys.stdin.buffer.read1(4096):
        pass
    server.shutdown()


if __name__ == "__main__":
    main()
