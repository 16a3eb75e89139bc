#!/usr/bin/python3
"""A dbus-python client that knows the server only through its introspection: proxy objects type every
argument from the one declaration of each method. Posts a listing with Field and Action, another with
Listing.Post, writes log records with three arguments of several types, then releases its object. Prints
each result code on a line of its own; exits 1 on a D-Bus error, naming it."""

import sys

import dbus

SERVICE = "OrvexKelPostJob.PostJob"
FACTORY_PATH = "/OrvexKelPostJob/PostJob"


def post_listings(bus, path):
    job = bus.get_object(SERVICE, path)
    postjob = dbus.Interface(job, "OrvexKelPostJob._PostJob")
    postjob.Field("JobCode", "PY-1")
    postjob.Field("Title", "R&D <lead>")
    print(postjob.Action("Add"))

    listing = dbus.Interface(job, "OrvexKelPostJob.Listing")
    print(listing.Post("Add", [("JobCode", "PY-2"), ("Location", "Remote")]))

    # AnyOther is a variant: dbus-python guesses each value's type, and sends a Struct of a tag and a
    # value as (ss) or (sx), whatever signature it was given.
    for any_other in ("text", 42, 1.5, True,
                      dbus.Struct(("currency", dbus.Int64(125000)), signature="sv"),
                      dbus.Struct(("date", "2010-01-19T15:07:45"), signature="sv")):
        postjob.WriteLog("dbus_python_client.py", "AnyOther", any_other)


def main():
    bus = dbus.SessionBus()
    try:
        factory = dbus.Interface(bus.get_object(SERVICE, FACTORY_PATH), "OrvexKelPostJob.ClassFactory")
        path = factory.CreateInstance()
        try:
            post_listings(bus, path)
        finally:
            dbus.Interface(bus.get_object(SERVICE, path), "OrvexKelPostJob.IUnknown").Release()
    except dbus.DBusException as error:
        print(f"dbus_python_client.py: {error.get_dbus_name()}: {error.get_dbus_message()}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
