"""Helpers of the window tests: a private Xvfb server, screenshots, a scratch
program folder, and closing an X window the way a window manager does."""

import ctypes
import ctypes.util
import os
import shutil
import subprocess
import tempfile
import time


class Xvfb:
    """An Xvfb server on a free display number, reachable only locally;
    stopped when the `with` block ends."""

    def __init__(self, size='1024x768x24'):
        self.size = size
        self.process = None
        self.display = None

    def __enter__(self):
        read_end, write_end = os.pipe()
        self.process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write_end), '-screen', '0', self.size, '-nolisten', 'tcp'],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Xvfb writes the display number once it accepts connections.
        number = b''
        with os.fdopen(read_end, 'rb') as pipe:
            while not number.endswith(b'\n'):
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip():
            self.process.kill()
            raise RuntimeError('Xvfb did not start')
        self.display = ':' + number.decode().strip()
        return self

    def __exit__(self, *exc):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        env['DISPLAY'] = self.display
        env.pop('WAYLAND_DISPLAY', None)
        return env

    def screenshot(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        subprocess.run(['import', '-display', self.display, '-window', 'root', path], check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
        print('screenshot:', path)


class ProgramFolder:
    """A scratch folder holding a copy of the executable."""

    def __init__(self, executable):
        self.path = tempfile.mkdtemp(prefix='pinemail-gui-')
        self.program = os.path.join(self.path, os.path.basename(executable))
        shutil.copy2(executable, self.program)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        shutil.rmtree(self.path, ignore_errors=True)

    def created_files(self):
        return sorted(set(os.listdir(self.path)) - {os.path.basename(self.program)})


def wait_for(predicate, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        result = predicate()
        if result:
            return result
        time.sleep(0.1)
    raise RuntimeError('timed out waiting for ' + what)


def close_x_window(display, window_id):
    """Sends WM_DELETE_WINDOW, as a window manager's close button does."""
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library('X11') or 'libX11.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]

    class ClientMessage(ctypes.Structure):
        _fields_ = [('type', ctypes.c_int), ('serial', ctypes.c_ulong),
                    ('send_event', ctypes.c_int), ('display', ctypes.c_void_p),
                    ('window', ctypes.c_ulong), ('message_type', ctypes.c_ulong),
                    ('format', ctypes.c_int), ('data', ctypes.c_long * 5)]

    class Event(ctypes.Union):
        _fields_ = [('xclient', ClientMessage), ('pad', ctypes.c_long * 24)]

    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                               ctypes.POINTER(Event)]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError('cannot open display ' + display)
    event = Event()
    event.xclient.type = 33  # ClientMessage
    event.xclient.window = window_id
    event.xclient.message_type = x11.XInternAtom(connection, b'WM_PROTOCOLS', 0)
    event.xclient.format = 32
    event.xclient.data[0] = x11.XInternAtom(connection, b'WM_DELETE_WINDOW', 0)
    event.xclient.data[1] = 0  # CurrentTime
    x11.XSendEvent(connection, window_id, 0, 0, ctypes.byref(event))
    x11.XFlush(connection)
    x11.XCloseDisplay(connection)


def pointer_shape(display):
    """The X pointer's current shape: (hot spot x, hot spot y, width, height,
    serial), read with XFixes."""
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library('X11') or 'libX11.so.6')
    xfixes = ctypes.cdll.LoadLibrary(ctypes.util.find_library('Xfixes') or 'libXfixes.so.3')

    class CursorImage(ctypes.Structure):
        _fields_ = [('x', ctypes.c_short), ('y', ctypes.c_short),
                    ('width', ctypes.c_ushort), ('height', ctypes.c_ushort),
                    ('xhot', ctypes.c_ushort), ('yhot', ctypes.c_ushort),
                    ('cursor_serial', ctypes.c_ulong), ('pixels', ctypes.c_void_p)]

    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XFree.argtypes = [ctypes.c_void_p]
    xfixes.XFixesQueryExtension.argtypes = [ctypes.c_void_p, ctypes.POINTER(ctypes.c_int),
                                            ctypes.POINTER(ctypes.c_int)]
    xfixes.XFixesGetCursorImage.restype = ctypes.POINTER(CursorImage)
    xfixes.XFixesGetCursorImage.argtypes = [ctypes.c_void_p]

    connection = x11.XOpenDisplay(display.encode())
    if not connection:
        raise RuntimeError('cannot open display ' + display)
    try:
        event_base, error_base = ctypes.c_int(), ctypes.c_int()
        if not xfixes.XFixesQueryExtension(connection, ctypes.byref(event_base),
                                           ctypes.byref(error_base)):
            raise RuntimeError('no XFixes')
        image = xfixes.XFixesGetCursorImage(connection)
        if not image:
            raise RuntimeError('no cursor image')
        shape = (image.contents.xhot, image.contents.yhot, image.contents.width,
                 image.contents.height, image.contents.cursor_serial)
        x11.XFree(image)
        return shape
    finally:
        x11.XCloseDisplay(connection)
