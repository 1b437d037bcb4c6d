#!/usr/bin/python3
"""Drives the private keyring of a test over DBUS_SESSION_BUS_ADDRESS.

  keyringctl.py wait     waits (up to 10 s) until the Secret Service owns its name
  keyringctl.py lock     locks the default keyring
  keyringctl.py unlock   unlocks it with the password on standard input
"""
import sys
import time

import dbus

SERVICE = "org.freedesktop.secrets"
PATH = "/org/freedesktop/secrets"
SECRET = "org.freedesktop.Secret.Service"
# The keyring daemon's own door for unlocking without a prompt (no prompter in tests).
INTERNAL = "org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface"


def default_collection(bus):
    service = bus.get_object(SERVICE, PATH)
    return service.ReadAlias("default", dbus_interface=SECRET)


def main():
    bus = dbus.SessionBus()
    command = sys.argv[1]
    if command == "wait":
        end = time.time() + 10
        while time.time() < end:
            if bus.name_has_owner(SERVICE):
                return 0
            time.sleep(0.05)
        return 1
    service = bus.get_object(SERVICE, PATH)
    collection = default_collection(bus)
    if command == "lock":
        service.Lock([collection], dbus_interface=SECRET)
        return 0
    if command == "unlock":
        password = sys.stdin.buffer.read()
        _, session = service.OpenSession("plain", dbus.String("", variant_level=1),
                                         dbus_interface=SECRET)
        secret = (session, dbus.ByteArray(b""), dbus.ByteArray(password), "text/plain")
        service.UnlockWithMasterPassword(collection, secret, dbus_interface=INTERNAL)
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main())
