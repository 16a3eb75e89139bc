#!/usr/bin/python3
"""Posts one job listing through the OrvexKelPostJob server on the session bus, using Gio (PyGObject).

    post_listing.py [--action WORD] [--field NAME=VALUE ...]

Creates a PostJob object, hands it the fields in order, posts them with Action and prints the result
code: "S" and the job id, or "F". Then it writes one record of its own into the activity log and
releases the object, which ends the server. The board is the server's setting, not the client's: its
built-in endpoint, ImportUrl= in its INI file, or http_proxy in the bus's activation environment.

Exit status: 0 for "S", 1 for "F" or when the server cannot be reached, 2 for bad arguments.
Needs python3-gi (Debian) and a session bus on which the server is registered.
"""

import argparse
import sys

from gi.repository import Gio, GLib

SERVICE = "OrvexKelPostJob.PostJob"
FACTORY_PATH = "/OrvexKelPostJob/PostJob"
FACTORY_INTERFACE = "OrvexKelPostJob.ClassFactory"
POSTJOB_INTERFACE = "OrvexKelPostJob._PostJob"
UNKNOWN_INTERFACE = "OrvexKelPostJob.IUnknown"

# Action waits for the board's answer, up to the server's time limit (Timeout=, 300 seconds unless its
# INI file says otherwise); Gio's default of 25 seconds would give up while the posting still goes on.
CALL_TIMEOUT_MS = 10 * 60 * 1000

DEFAULT_FIELDS = [("JobCode", "PY-1"), ("Title", "Python developer"), ("Location", "Remote")]


def field_argument(text):
    name, equals, value = text.partition("=")
    if not equals or not name:
        raise argparse.ArgumentTypeError(f"needs Name=Value with a non-empty name, got {text!r}")
    return name, value


def object_proxy(bus, path, interface):
    return Gio.DBusProxy.new_sync(
        bus,
        Gio.DBusProxyFlags.DO_NOT_LOAD_PROPERTIES | Gio.DBusProxyFlags.DO_NOT_CONNECT_SIGNALS,
        None, SERVICE, path, interface, None)


def call(proxy, method, signature=None, *args):
    parameters = GLib.Variant(signature, args) if signature else None
    reply = proxy.call_sync(method, parameters, Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
    return reply.unpack() if reply is not None else ()


def create_instance(bus):
    # The bus starts the server on this first call when it is not running.
    reply = bus.call_sync(SERVICE, FACTORY_PATH, FACTORY_INTERFACE, "CreateInstance", None,
                          GLib.VariantType.new("(o)"), Gio.DBusCallFlags.NONE, CALL_TIMEOUT_MS, None)
    return reply.unpack()[0]


def post(bus, action, fields):
    path = create_instance(bus)
    try:
        postjob = object_proxy(bus, path, POSTJOB_INTERFACE)
        for name, value in fields:
            call(postjob, "Field", "(ss)", name, value)
        (result,) = call(postjob, "Action", "(s)", action)
        job_code = next((value for name, value in reversed(fields) if name == "JobCode"), "")
        # AnyOther is a variant: an int32 is written as a bare number, here the count of fields posted.
        call(postjob, "WriteLog", "(ssv)", "post_listing.py", f"{job_code} {result}",
             GLib.Variant("i", len(fields)))
        return result
    finally:
        # Releasing any object ends the server with every object in it.
        call(object_proxy(bus, path, UNKNOWN_INTERFACE), "Release")


def main():
    parser = argparse.ArgumentParser(description="Post one job listing through OrvexKelPostJob.")
    parser.add_argument("--action", default="Add", help="the action word (default: Add)")
    parser.add_argument("--field", dest="fields", metavar="NAME=VALUE", action="append",
                        type=field_argument, help="one field, repeated in posting order "
                        "(default: a sample listing with JobCode PY-1)")
    arguments = parser.parse_args()

    try:
        bus = Gio.bus_get_sync(Gio.BusType.SESSION, None)
        result = post(bus, arguments.action, arguments.fields or DEFAULT_FIELDS)
    except GLib.Error as error:
        # A server error arrives as OrvexKelPostJob.Error.<Symbol> with "description (number) [source: ...]".
        remote = Gio.DBusError.get_remote_error(error)
        Gio.DBusError.strip_remote_error(error)
        print(f"post_listing.py: {remote + ': ' if remote else ''}{error.message}", file=sys.stderr)
        return 1
    print(result)
    return 0 if result.startswith("S") else 1


if __name__ == "__main__":
    sys.exit(main())
