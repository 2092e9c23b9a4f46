"""What an X server shows, watched from outside the program under test (libX11 through
ctypes): which override-redirect windows get mapped, and when their pixels change."""

import ctypes
import ctypes.util
import select
import time

from harness import Failure

X11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
X11.XOpenDisplay.restype = ctypes.c_void_p
X11.XOpenDisplay.argtypes = [ctypes.c_char_p]
X11.XDefaultRootWindow.restype = ctypes.c_ulong
X11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
X11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
X11.XConnectionNumber.argtypes = [ctypes.c_void_p]
X11.XPending.argtypes = [ctypes.c_void_p]
X11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
X11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
X11.XGetImage.restype = ctypes.c_void_p
X11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                          ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
X11.XFree.argtypes = [ctypes.c_void_p]
X11.XCloseDisplay.argtypes = [ctypes.c_void_p]
X11.XGetGeometry.argtypes = [ctypes.c_void_p, ctypes.c_ulong] + \
    [ctypes.POINTER(ctypes.c_ulong)] + [ctypes.POINTER(ctypes.c_int)] * 2 + \
    [ctypes.POINTER(ctypes.c_uint)] * 4

DESTROY_NOTIFY, UNMAP_NOTIFY, MAP_NOTIFY = 17, 18, 19
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19
Z_PIXMAP = 2
ALL_PLANES = 0xFFFFFFFFFFFFFFFF


class XMapEvent(ctypes.Structure):
    """XMapEvent, XUnmapEvent and XDestroyWindowEvent share this start."""
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("event", ctypes.c_ulong), ("window", ctypes.c_ulong),
                ("override_redirect", ctypes.c_int)]


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int),
                ("xoffset", ctypes.c_int), ("format", ctypes.c_int),
                ("data", ctypes.c_void_p), ("byte_order", ctypes.c_int),
                ("bitmap_unit", ctypes.c_int), ("bitmap_bit_order", ctypes.c_int),
                ("bitmap_pad", ctypes.c_int), ("depth", ctypes.c_int),
                ("bytes_per_line", ctypes.c_int), ("bits_per_pixel", ctypes.c_int)]


# Xlib's default handler exits the process; a window that vanished between two requests
# is expected here.
@ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
def _ignore_error(display, event):
    return 0


X11.XSetErrorHandler(_ignore_error)


class Screen:
    def __init__(self, display_name):
        self.display = X11.XOpenDisplay(display_name.encode())
        if not self.display:
            raise Failure(f"cannot open the X display {display_name}")
        self.root = X11.XDefaultRootWindow(self.display)
        X11.XSelectInput(self.display, self.root, SUBSTRUCTURE_NOTIFY_MASK)
        X11.XSync(self.display, 0)
        self.event = (ctypes.c_long * 24)()  # the size of XEvent

    def close(self):
        X11.XCloseDisplay(self.display)

    def geometry(self, window):
        root, x, y = ctypes.c_ulong(), ctypes.c_int(), ctypes.c_int()
        width, height, border, depth = (ctypes.c_uint() for _ in range(4))
        if not X11.XGetGeometry(self.display, window, ctypes.byref(root), ctypes.byref(x),
                                ctypes.byref(y), ctypes.byref(width), ctypes.byref(height),
                                ctypes.byref(border), ctypes.byref(depth)):
            return None
        return x.value, y.value, width.value, height.value

    def pixels(self, window, x=0, y=0, width=None, height=None):
        """The window's pixels as bytes (ZPixmap rows), or None when it is gone."""
        if width is None:
            _, _, width, height = self.geometry(window) or (0, 0, 0, 0)
        pointer = X11.XGetImage(self.display, window, x, y, width, height, ALL_PLANES, Z_PIXMAP)
        if not pointer:
            return None
        image = XImage.from_address(pointer)
        data = ctypes.string_at(image.data, image.bytes_per_line * image.height)
        X11.XFree(image.data)
        X11.XFree(pointer)
        return data

    def flush_events(self):
        while X11.XPending(self.display):
            X11.XNextEvent(self.display, self.event)

    def next_event(self, types, deadline):
        """(time, event) of the next event of one of `types` on the root's children, with
        the time it was read."""
        fd = X11.XConnectionNumber(self.display)
        while True:
            while X11.XPending(self.display):
                X11.XNextEvent(self.display, self.event)
                stamp = time.monotonic()
                event = XMapEvent.from_buffer_copy(self.event)
                if event.type in types:
                    return stamp, event
            left = deadline - time.monotonic()
            if left <= 0:
                raise Failure("timed out waiting for the X server")
            select.select([fd], [], [], left)

    def wait_popup(self, timeout=10):
        """(time, window) of the next override-redirect window mapped on the root."""
        deadline = time.monotonic() + timeout
        while True:
            stamp, event = self.next_event((MAP_NOTIFY,), deadline)
            if event.override_redirect:
                return stamp, event.window

    def wait_gone(self, window, timeout=10):
        deadline = time.monotonic() + timeout
        while True:
            stamp, event = self.next_event((UNMAP_NOTIFY, DESTROY_NOTIFY), deadline)
            if event.window == window:
                return stamp

    def wait_drawn(self, window, under, timeout=10):
        """The time the window's pixels first differ from `under` (what the screen showed
        there before) and are not all one colour: its content drawn.  None when it went
        before that."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            data = self.pixels(window, width=under[1], height=under[2])
            if data is None:
                return None
            if data != under[0] and data != data[:4] * (len(data) // 4):
                return time.monotonic()
            time.sleep(0.0005)
        raise Failure("the window was never drawn")

    def under(self, window, screen):
        """What `screen` (bytes of the whole root, taken before) showed where the window
        is now, as (bytes, width, height) in the window's row layout."""
        data, root_width = screen
        x, y, width, height = self.geometry(window)
        stride = root_width * 4
        rows = [data[(y + row) * stride + x * 4:(y + row) * stride + (x + width) * 4]
                for row in range(height)]
        return b"".join(rows), width, height

    def snapshot(self):
        """The whole root's pixels, to compare a new window with what was under it."""
        _, _, width, _ = self.geometry(self.root)
        return self.pixels(self.root), width
