#!/usr/bin/env python3
"""Throw-away HTTP(S) and SMTP servers that keep what they receive, for the
tests of the messages about episodes.

Usage:
  notify_servers.py http FOLDER [--tls PEM]
  notify_servers.py smtp FOLDER [--starttls PEM | --tls PEM]
                               [--login USER:PASSWORD] [--mechanism NAME]

Each listens on a free loopback port and prints it as the first line of its
output once it accepts connections. PEM holds the certificate and its key.

The HTTP server writes every request to FOLDER/requests/NNNN/ (method, path,
headers/NAME raw, decoded/NAME with RFC 2047 words decoded, body, and for a
multipart/form-data body parts/NAME/{data,content_type,filename} plus, for a
JSON part, json: one "key<TAB>value as JSON" line a field, or json_error).
It answers as FOLDER/answers tells, read again at each request: lines
"PATH STATUS [BODY]" (\\n in BODY for a line end) or "PATH hang" (read the
request, never answer); "*" stands for any path. Without a line: 200 "ok".

The SMTP server writes every mail to FOLDER/mails/NNNN/: envelope_from,
envelope_to, tls (yes/no), login and mechanism of the AUTH, the headers
subject, from, to and date (decoded), text, and attachments/NAME with
attachments/NAME.type. With --login, AUTH is required and checked.

A record appears whole, by a rename, before the answer goes out. The server
ends when its standard input ends, so a test that dies takes it along.
"""
import argparse
import asyncio
import email
import email.header
import email.parser
import email.policy
import http.server
import json
import logging
import os
import socket
import ssl
import sys
import tempfile
import threading
import warnings


class Records:
    def __init__(self, folder, kind):
        self.folder = os.path.join(folder, kind)
        os.makedirs(self.folder, exist_ok=True)
        self.lock = threading.Lock()
        self.count = 0

    def keep(self, files):
        """Writes {relative name: bytes} as the next record, in one step."""
        staging = tempfile.mkdtemp(dir=os.path.dirname(self.folder), prefix=".record-")
        for name, data in files.items():
            path = os.path.join(staging, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as out:
                out.write(data)
        with self.lock:
            self.count += 1
            os.rename(staging, os.path.join(self.folder, "%04d" % self.count))


def decoded(value):
    try:
        return str(email.header.make_header(email.header.decode_header(value)))
    except Exception as error:  # a malformed word is the client's fault: show it
        return "undecodable: %s" % error


def safe_name(name):
    return name.replace("/", "_").replace("\0", "_") or "_"


def json_fields(data):
    try:
        value = json.loads(data.decode("utf-8"))
    except (ValueError, UnicodeDecodeError) as error:
        return {"json_error": str(error).encode()}
    if not isinstance(value, dict):
        return {"json_error": b"not an object"}
    lines = ["%s\t%s" % (k, json.dumps(v, ensure_ascii=False)) for k, v in sorted(value.items())]
    return {"json": ("\n".join(lines) + "\n").encode("utf-8")}


def form_parts(content_type, body):
    """The parts of a multipart/form-data body, split by hand so that the
    bytes stay exactly as sent."""
    header = email.parser.HeaderParser(policy=email.policy.HTTP).parsestr(
        "Content-Type: %s\n\n" % content_type)
    boundary = header.get_param("boundary")
    if header.get_content_type() != "multipart/form-data" or not boundary:
        return {}
    files = {}
    delimiter = b"\r\n--" + boundary.encode()
    chunks = (b"\r\n" + body).split(delimiter)
    for chunk in chunks[1:]:
        if chunk.startswith(b"--"):
            break
        head, _, data = chunk[2:].partition(b"\r\n\r\n")
        part = email.parser.HeaderParser(policy=email.policy.HTTP).parsestr(
            head.decode("utf-8", "replace") + "\n\n")
        name = safe_name(part.get_param("name", header="content-disposition") or "")
        prefix = "parts/%s/" % name
        files[prefix + "data"] = data
        files[prefix + "content_type"] = (part.get("Content-Type") or "").encode()
        files[prefix + "filename"] = (part.get_filename() or "").encode()
        if part.get_content_type() == "application/json":
            for key, value in json_fields(data).items():
                files[prefix + key] = value
    return files


def answer_for(folder, path):
    chosen = None
    try:
        with open(os.path.join(folder, "answers"), encoding="utf-8") as lines:
            for line in lines:
                words = line.rstrip("\n").split(" ", 2)
                if len(words) >= 2 and words[0] == path:
                    return words[1:]
                if len(words) >= 2 and words[0] == "*" and chosen is None:
                    chosen = words[1:]
    except FileNotFoundError:
        pass
    return chosen or ["200", "ok"]


def serve_http(folder, pem):
    records = Records(folder, "requests")
    stop = threading.Event()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def setup(self):
            if isinstance(self.request, ssl.SSLSocket):
                self.request.do_handshake()
            super().setup()

        def log_message(self, *args):
            pass

        def handle_one_request(self):
            try:
                super().handle_one_request()
            except (ssl.SSLError, ConnectionError):
                self.close_connection = True

        def read_body(self):
            if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
                body = b""
                while True:
                    size = int(self.rfile.readline().split(b";")[0], 16)
                    chunk = self.rfile.read(size + 2)
                    if size == 0:
                        return body
                    body += chunk[:-2]
            length = int(self.headers.get("Content-Length") or 0)
            return self.rfile.read(length) if length else b""

        def do(self):
            body = self.read_body()
            files = {"method": self.command.encode(), "path": self.path.encode(), "body": body}
            for name in set(self.headers.keys()):
                values = self.headers.get_all(name)
                key = safe_name(name.lower())
                files["headers/" + key] = "\n".join(values).encode("utf-8", "surrogateescape")
                files["decoded/" + key] = "\n".join(decoded(v) for v in values).encode(
                    "utf-8", "surrogateescape")
            files.update(form_parts(self.headers.get("Content-Type", ""), body))
            records.keep(files)
            answer = answer_for(folder, self.path)
            if answer[0] == "hang":
                stop.wait()
                return
            text = (answer[1] if len(answer) > 1 else "").replace("\\n", "\n").encode()
            self.send_response(int(answer[0]))
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", str(len(text)))
            self.end_headers()
            self.wfile.write(text)

        do_GET = do_PUT = do_POST = do

    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    server.daemon_threads = True
    # A client that gives up on the certificate is what some tests want.
    server.handle_error = lambda request, address: None
    if pem:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(pem)
        # The handshake happens in the request's thread, so that a client
        # that stalls in it holds up no one else.
        server.socket = context.wrap_socket(server.socket, server_side=True,
                                            do_handshake_on_connect=False)
    print(server.server_address[1], flush=True)
    server.serve_forever()


def serve_smtp(folder, arguments):
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

    # Only trouble is worth a line in the test output.
    logging.getLogger("mail.log").setLevel(logging.ERROR)
    # Implicit TLS is TLS enough for AUTH, whatever aiosmtpd fears.
    warnings.filterwarnings("ignore", message="Requiring AUTH while not requiring TLS")

    records = Records(folder, "mails")
    login, _, password = (arguments.login or "").partition(":")

    def authenticator(server, session, envelope, mechanism, data):
        ok = (isinstance(data, LoginPassword) and data.login.decode() == login
              and data.password.decode() == password)
        if ok:
            session.vistrel_login = login
            session.vistrel_mechanism = mechanism
        # Not handled: aiosmtpd answers a refusal with its 535 itself.
        return AuthResult(success=ok, handled=False, auth_data=data)

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            message = email.message_from_bytes(envelope.content, policy=email.policy.default)
            tls = server.transport.get_extra_info("ssl_object") is not None
            files = {
                "envelope_from": (envelope.mail_from or "").encode(),
                "envelope_to": "\n".join(envelope.rcpt_tos).encode(),
                "tls": b"yes" if tls else b"no",
                "login": getattr(session, "vistrel_login", "").encode(),
                "mechanism": getattr(session, "vistrel_mechanism", "").encode(),
            }
            for name in ("subject", "from", "to", "date"):
                files[name] = str(message.get(name, "")).encode("utf-8")
            text = message.get_body(preferencelist=("plain",))
            files["text"] = (text.get_content() if text is not None else "").encode("utf-8")
            for part in message.iter_attachments():
                name = safe_name(part.get_filename() or "")
                files["attachments/" + name] = part.get_payload(decode=True) or b""
                files["attachments/" + name + ".type"] = part.get_content_type().encode()
            records.keep(files)
            return "250 OK"

    def context_of(pem):
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(pem)
        return context

    # aiosmtpd counts only STARTTLS as TLS when it decides to offer AUTH.
    options = {"hostname": "vistrel-test", "auth_require_tls": not arguments.tls}
    if arguments.starttls:
        options["tls_context"] = context_of(arguments.starttls)
        options["require_starttls"] = True
    if arguments.login:
        options["authenticator"] = authenticator
        options["auth_required"] = True
    if arguments.mechanism:
        options["auth_exclude_mechanism"] = [
            m for m in ("LOGIN", "PLAIN") if m != arguments.mechanism]

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        lambda: SMTP(Handler(), loop=loop, **options), host="127.0.0.1", port=0,
        family=socket.AF_INET, ssl=context_of(arguments.tls) if arguments.tls else None))
    print(server.sockets[0].getsockname()[1], flush=True)
    loop.run_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("kind", choices=("http", "smtp"))
    parser.add_argument("folder")
    parser.add_argument("--tls")
    parser.add_argument("--starttls")
    parser.add_argument("--login")
    parser.add_argument("--mechanism")
    arguments = parser.parse_args()

    def watch_parent():
        while sys.stdin.buffer.read(4096):
            pass
        os._exit(0)
    threading.Thread(target=watch_parent, daemon=True).start()

    if arguments.kind == "http":
        serve_http(arguments.folder, arguments.tls)
    else:
        serve_smtp(arguments.folder, arguments)


if __name__ == "__main__":
    main()
