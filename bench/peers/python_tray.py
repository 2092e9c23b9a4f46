"""The peer of the panel agent: a small Python tray app of the kind users install instead.

A StatusNotifierItem with a text label (dbus-python on the GLib main loop), the price
fetched with urllib on a worker thread every INTERVAL seconds, the last price kept in a
JSON file and shown at start. SIGUSR1 fetches at once. Only what a minimal app needs;
the connect-to mapping exists so that it can reach the local price server.

    python_tray.py --interval S --cacert FILE --cache FILE [--connect-to HOST:PORT:HOST2:PORT2]
"""

import argparse
import http.client
import json
import os
import signal
import socket
import ssl
import threading

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

ITEM = "org.kde.StatusNotifierItem"
URL_HOST = "mempool.space"
URL_PATH = "/api/v1/prices"


class Item(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierItem")
        self.label = "\u20bf ..."

    def properties(self):
        return {
            "Category": "ApplicationStatus",
            "Id": "python-btc-tray",
            "Title": "Bitcoin price",
            "Status": "Active",
            "IconName": "money",
            "ItemIsMenu": False,
            "Menu": dbus.ObjectPath("/NO_DBUSMENU"),
            "XAyatanaLabel": self.label,
            "XAyatanaLabelGuide": "\u20bf 000,000",
        }

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        return self.properties()[name]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties()

    @dbus.service.method(ITEM, in_signature="ii", out_signature="")
    def Activate(self, x, y):
        pass

    @dbus.service.signal(ITEM, signature="ss")
    def XAyatanaNewLabel(self, label, guide):
        pass

    def set_label(self, label):
        if label != self.label:
            self.label = label
            self.XAyatanaNewLabel(label, "\u20bf 000,000")


class MappedConnection(http.client.HTTPSConnection):
    """Connects to another address while TLS still checks the real host name."""

    def __init__(self, host, address, context):
        super().__init__(host, context=context, timeout=10)
        self.address = address

    def connect(self):
        sock = socket.create_connection(self.address, self.timeout)
        self.sock = self._context.wrap_socket(sock, server_hostname=self.host)


def fetch(options):
    context = ssl.create_default_context(cafile=options.cacert)
    if options.address:
        connection = MappedConnection(URL_HOST, options.address, context)
    else:
        connection = http.client.HTTPSConnection(URL_HOST, context=context, timeout=10)
    try:
        connection.request("GET", URL_PATH)
        response = connection.getresponse()
        if response.status != 200:
            raise OSError(f"HTTP {response.status}")
        return float(json.loads(response.read())["USD"])
    finally:
        connection.close()


def title(usd):
    return f"\u20bf {round(usd):,}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--interval", type=float, default=60)
    parser.add_argument("--cacert")
    parser.add_argument("--cache", default=os.path.expanduser("~/.cache/python-btc-tray.json"))
    parser.add_argument("--connect-to")
    options = parser.parse_args()
    options.address = None
    if options.connect_to:
        _, _, host, port = options.connect_to.split(":")
        options.address = (host, int(port))

    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    item = Item(bus)
    name = dbus.service.BusName(f"{ITEM}-{os.getpid()}-1", bus)
    try:
        with open(options.cache) as cache:
            item.label = title(json.load(cache)["usd"])
    except (OSError, ValueError, KeyError):
        pass
    bus.get_object("org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher").\
        RegisterStatusNotifierItem(name.get_name(),
                                   dbus_interface="org.kde.StatusNotifierWatcher")

    busy = threading.Lock()
    timer = [0]

    def done(usd):
        if usd is not None:
            item.set_label(title(usd))
            with open(options.cache + ".tmp", "w") as cache:
                json.dump({"usd": usd}, cache)
            os.replace(options.cache + ".tmp", options.cache)
        busy.release()
        timer[0] = GLib.timeout_add(int(options.interval * 1000), on_timer)
        return False

    def work():
        try:
            usd = fetch(options)
        except (OSError, ValueError, KeyError):
            usd = None
        GLib.idle_add(done, usd)

    def start():
        if busy.acquire(blocking=False):
            threading.Thread(target=work, daemon=True).start()

    def on_timer():
        timer[0] = 0
        start()
        return False

    def on_signal():
        if timer[0]:
            GLib.source_remove(timer[0])
            timer[0] = 0
        start()
        return True

    loop = GLib.MainLoop()
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGUSR1, on_signal)
    GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
    GLib.idle_add(on_timer)
    loop.run()


if __name__ == "__main__":
    main()
