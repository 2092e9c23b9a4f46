"""A StatusNotifierWatcher as a panel host runs one, for the benchmarks.

It owns org.kde.StatusNotifierWatcher on the session bus and writes one line to stdout
for each event, stamped with CLOCK_MONOTONIC in nanoseconds:

    ready <ns>
    registered <ns> <service>
    label <ns> <service> <label>        (read at registration, then every XAyatanaNewLabel)
"""

import sys
import time

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ITEM = "org.kde.StatusNotifierItem"
WATCHER = "org.kde.StatusNotifierWatcher"


def say(*words):
    print(*words, flush=True)


def now():
    return time.monotonic_ns()


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        self.bus = bus
        self.items = []
        super().__init__(bus, "/StatusNotifierWatcher")

    @dbus.service.method(WATCHER, in_signature="s", out_signature="",
                         sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if service.startswith("/"):
            path, service = service, sender
        else:
            path = "/StatusNotifierItem"
        say("registered", now(), service)
        self.items.append(service)
        self.bus.add_signal_receiver(
            lambda label, guide: say("label", now(), service, label),
            signal_name="XAyatanaNewLabel", dbus_interface=ITEM, bus_name=sender, path=path)
        item = self.bus.get_object(service, path, introspect=False)
        item.Get(ITEM, "XAyatanaLabel", dbus_interface=dbus.PROPERTIES_IFACE,
                 reply_handler=lambda label: say("label", now(), service, label),
                 error_handler=lambda error: say("error", now(), service, error))
        self.StatusNotifierItemRegistered(service)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, service):
        pass

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.GetAll(interface)[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": True,
            "ProtocolVersion": dbus.Int32(0),
        }


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    name = dbus.service.BusName(WATCHER, bus, do_not_queue=True)
    say("ready", now())
    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, 15, loop.quit)
    loop.run()
    del name, watcher


if __name__ == "__main__":
    sys.exit(main())
