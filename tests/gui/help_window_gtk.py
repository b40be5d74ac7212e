#!/usr/bin/python3
"""The Linux build's help: the GTK window under a private Xvfb (found by its
caption, sized as designed, still open after a click on the address, gone
with exit status 0 once closed), and the help text on standard output when
there is no display. Help never creates the settings file or the log. The
executable does not depend on GTK's libraries: it loads them only to show the
window, so a batch run does not carry them."""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xvfb  # noqa: E402

CAPTION = 'pinemail 工房\u3000\u3000年賀メール一括送信'
CLIENT_SIZE = (604, 393)
# Points inside the address label and the site title, near their right ends.
URL_POINT = (591 - 40, 368 + 8)
SITE_POINT = (591 - 20, 352 + 8)

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL:', what)


def program_env(base):
    env = dict(base)
    # GTK and fontconfig keep their caches until the process ends.
    env['ASAN_OPTIONS'] = 'detect_leaks=0'
    env['NO_AT_BRIDGE'] = '1'
    return env


def check_without_display(executable):
    # No display at all, and a display that cannot be reached.
    for display in (None, ':4242'):
        with xvfb.ProgramFolder(executable) as folder:
            env = program_env(os.environ)
            env.pop('WAYLAND_DISPLAY', None)
            env.pop('DISPLAY', None)
            if display:
                env['DISPLAY'] = display
            result = subprocess.run([folder.program], env=env, stdin=subprocess.DEVNULL,
                                    capture_output=True, timeout=60)
            text = result.stdout.decode('utf-8', 'replace')
            where = ' (DISPLAY=%s)' % display
            expect(result.returncode == 0, 'help exits 0, got %d%s' % (result.returncode, where))
            expect('年賀メール一括送信' in text, 'help text on standard output' + where)
            expect('URL : https://pinemail.example.org/' in text,
                   'help text ends with the banner' + where)
            expect(folder.created_files() == [],
                   'no files created: %s%s' % (folder.created_files(), where))


def check_not_linked(executable):
    result = subprocess.run(['readelf', '--dynamic', executable], capture_output=True,
                            timeout=60)
    expect(result.returncode == 0, 'readelf reads the executable')
    needed = [line.split('[', 1)[1].split(']', 1)[0]
              for line in result.stdout.decode('utf-8', 'replace').splitlines()
              if '(NEEDED)' in line and '[' in line]
    toolkit = [name for name in needed
               if name.startswith(('libgtk', 'libgdk', 'libglib', 'libgobject', 'libpango'))]
    expect(needed and not toolkit, 'no GTK libraries among the needed ones: %s' % toolkit)


def xdotool(display, *args):
    result = subprocess.run(['xdotool', *args], env={**os.environ, 'DISPLAY': display},
                            capture_output=True, timeout=30)
    return result.stdout.decode('utf-8', 'replace').strip() if result.returncode == 0 else ''


def settled_shape(display):
    first = xvfb.pointer_shape(display)
    return first if xvfb.pointer_shape(display) == first else None


def check_window(executable, screenshot):
    with xvfb.Xvfb() as server, xvfb.ProgramFolder(executable) as folder:
        program = subprocess.Popen([folder.program], env=program_env(server.env()),
                                   stdin=subprocess.DEVNULL)
        try:
            found = xvfb.wait_for(lambda: xdotool(server.display, 'search', '--onlyvisible',
                                                  '--name', 'pinemail'), 60, 'the help window')
            window = found.split()[0]
            expect(xdotool(server.display, 'getwindowname', window) == CAPTION, 'window caption')
            geometry = dict(line.split('=') for line in
                            xdotool(server.display, 'getwindowgeometry', '--shell',
                                    window).splitlines())
            size = (int(geometry.get('WIDTH', 0)), int(geometry.get('HEIGHT', 0)))
            expect(size == CLIENT_SIZE, 'client size %s' % (size,))

            left, top = int(geometry.get('X', 0)), int(geometry.get('Y', 0))

            def shape_at(point):
                xdotool(server.display, 'mousemove', '--sync', str(left + point[0]),
                        str(top + point[1]))
                # The shape follows once the window has seen the move; it must
                # hold still for two readings.
                return xvfb.wait_for(lambda: settled_shape(server.display), 10, 'the pointer')

            over_site = shape_at(SITE_POINT)
            over_url = shape_at(URL_POINT)
            print('pointer over the site title:', over_site, 'over the address:', over_url)
            expect(over_url != over_site, 'the pointer changes shape over the address')

            # A click on the address; no browser here, so the window just stays.
            xdotool(server.display, 'click', '1')
            server.screenshot(screenshot)
            expect(program.poll() is None, 'window stays open after a click on the address')

            xvfb.close_x_window(server.display, int(window))
            status = program.wait(timeout=60)
            expect(status == 0, 'closing the window ends the program with 0, got %d' % status)
            expect(folder.created_files() == [], 'no files created: %s' % folder.created_files())
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--out', required=True)
    args = parser.parse_args()
    check_not_linked(args.exe)
    check_without_display(args.exe)
    check_window(args.exe, os.path.join(args.out, 'help_window_gtk.png'))
    print('%d failure(s)' % len(failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
