#!/usr/bin/python3
"""A check in the order of the Windows version's dialogue, one command at a time, for comparison.

Usage: onebyone.py pop3|imap PORT USER PASSWORD KNOWN_FILE PREVIEW

POP3: USER, PASS, NOOP, STAT, UIDL, LIST, then TOP for each new message, newest first.
IMAP: LOGIN, SELECT, STATUS, FETCH 1:* UID, then for each new UID newest first a UID FETCH
of RFC822.SIZE and one of the header or message start. Prints "<new> <seconds>".
"""

import imaplib
import poplib
import re
import sys
import time


def pop3(port, user, password, known, preview):
    s = poplib.POP3("127.0.0.1", port)
    s.user(user)
    s.pass_(password)
    s.noop()
    s.stat()
    uids = [line.split()[1].decode() for line in s.uidl()[1]]
    s.list()
    new = 0
    for position in range(len(uids), 0, -1):
        if uids[position - 1] in known:
            continue
        s.top(position, preview)
        new += 1
    s.quit()
    return new


def imap(port, user, password, known, preview):
    s = imaplib.IMAP4("127.0.0.1", port)
    s.login(user, password)
    s.select("Inbox")
    s.status("INBOX", "(MESSAGES UNSEEN UIDNEXT)")
    typ, data = s.fetch("1:*", "UID")
    uids = [re.search(rb"UID (\d+)", d).group(1).decode() for d in data if d]
    new = 0
    for uid in reversed(uids):
        if uid in known:
            continue
        s.uid("FETCH", uid, "(RFC822.SIZE)")
        if preview == 0:
            s.uid("FETCH", uid, "(RFC822.HEADER)")
        else:
            s.uid("FETCH", uid, "(BODY.PEEK[]<0.%d>)" % (preview * 1024))
        new += 1
    s.logout()
    return new


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
