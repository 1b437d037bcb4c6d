#!/usr/bin/python3
"""A simple pipelining client that trusts the server, as the reference our checks must beat.

Usage: pipelined.py pop3|imap PORT USER PASSWORD KNOWN_FILE PREVIEW

It knows nothing of capabilities and checks nothing it need not: after the greeting it sends
the whole login and listing in one burst, then every fetch with QUIT/LOGOUT in a second one,
and reads to the end of the stream. It parses no header. Three round trips after the
connect. Prints "<new> <seconds>".

POP3: USER, PASS, STAT, UIDL; then LIST, TOP per new message (newest first), QUIT.
IMAP: LOGIN, SELECT, UID SEARCH ALL; then one UID FETCH of size, header and the start of the
text of every new message, LOGOUT.
"""

import re
import socket
import sys
import time


def read_until(sock, buf, done):
    while not done(buf):
        data = sock.recv(1 << 20)
        if not data:
            raise EOFError("server closed early")
        buf += data
    return buf


def read_to_end(sock):
    total = 0
    while True:
        data = sock.recv(1 << 20)
        if not data:
            return total
        total += len(data)


def pop3(port, user, password, known, preview):
    s = socket.create_connection(("127.0.0.1", port))
    buf = read_until(s, bytearray(), lambda b: b"\r\n" in b)
    s.sendall(b"USER %s\r\nPASS %s\r\nSTAT\r\nUIDL\r\n" % (user.encode(), password.encode()))
    # Three status lines, then the UIDL list up to its closing dot.
    buf = read_until(s, bytearray(), lambda b: b.endswith(b"\r\n.\r\n") and b.count(b"\r\n") > 4)
    lines = bytes(buf).split(b"\r\n")[3:]
    uids = [line.split()[1].decode() for line in lines[1:] if line and line != b"."]
    fresh = [i + 1 for i in range(len(uids) - 1, -1, -1) if uids[i] not in known]
    burst = b"LIST\r\n" + b"".join(b"TOP %d %d\r\n" % (n, preview) for n in fresh) + b"QUIT\r\n"
    s.sendall(burst)
    read_to_end(s)
    s.close()
    return len(fresh)


def imap(port, user, password, known, preview):
    s = socket.create_connection(("127.0.0.1", port))
    read_until(s, bytearray(), lambda b: b"\r\n" in b)
    s.sendall(b'a LOGIN "%s" "%s"\r\nb SELECT INBOX\r\nc UID SEARCH ALL\r\n'
              % (user.encode(), password.encode()))
    buf = read_until(s, bytearray(), lambda b: re.search(rb"(^|\r\n)c [^\r\n]*\r\n", b))
    found = re.search(rb"\* SEARCH([ 0-9]*)\r\n", buf)
    uids = found.group(1).split() if found else []
    fresh = [u.decode() for u in reversed(uids) if u.decode() not in known]
    items = "(UID RFC822.SIZE BODY.PEEK[HEADER]"
    if preview:
        items += " BODY.PEEK[TEXT]<0.%d>" % (preview * 1024)
    items += ")"
    s.sendall(("d UID FETCH %s %s\r\ne LOGOUT\r\n" % (",".join(fresh), items)).encode())
    read_to_end(s)
    s.close()
    return len(fresh)


def main():
    proto, port, user, password, known_file, preview = sys.argv[1:7]
    with open(known_file) as f:
        known = set(line.strip() for line in f if line.strip())
    start = time.monotonic()
    run = pop3 if proto == "pop3" else imap
    new = run(int(port), user, password, known, int(preview))
    print(new, "%.3f" % (time.monotonic() - start))


if __name__ == "__main__":
    main()
