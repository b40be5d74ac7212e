#!/usr/bin/python3
"""The Windows build's help window under Wine and a private Xvfb: started
without an argument in a scratch program folder, examined from another
Windows process (controls, layout, text box), the pointer's shape read from
the X server, a screenshot taken, then closed; the program must end with 0
and leave no settings file or log behind.

The program runs on a Wine desktop of its own, whose desktop process is
started here with this test's display: a shared Wine server may already
host a desktop made without any display, on which no window can open."""

import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import xvfb  # noqa: E402

HAND_HOT_SPOT = (12, 1)  # the program's own cursor points with its fingertip there

failures = []


def expect(ok, what):
    if not ok:
        failures.append(what)
        print('FAIL:', what)


def run_probe(wine_run, probe, desktop, mode, env):
    result = subprocess.run([wine_run, probe, '--desktop', desktop, mode], env=env,
                            stdin=subprocess.DEVNULL, capture_output=True, timeout=180)
    output = result.stdout.decode('utf-8', 'replace')
    print(output, end='')
    return result.returncode, output


def point_targets(output):
    """The screen points that the probe printed as `point NAME X Y`."""
    points = {}
    for line in output.splitlines():
        parts = line.split()
        if len(parts) == 4 and parts[0] == 'point':
            points[parts[1]] = (int(parts[2]), int(parts[3]))
    return points


def shape_at(display, point, accept):
    subprocess.run(['xdotool', 'mousemove', '--sync', str(point[0]), str(point[1])],
                   env={**os.environ, 'DISPLAY': display}, check=True, timeout=30)
    last = []

    def settled():
        last[:] = [xvfb.pointer_shape(display)]
        return accept(last[0])

    try:
        xvfb.wait_for(settled, 10, 'the pointer shape')
    except RuntimeError:
        pass
    return last[0]


def check_pointer(display, points):
    if 'URL' not in points or 'Label3' not in points:
        expect(False, 'probe printed the points to check the pointer at')
        return
    over_url = shape_at(display, points['URL'], lambda shape: shape[:2] == HAND_HOT_SPOT)
    over_site = shape_at(display, points['Label3'], lambda shape: shape[:2] != HAND_HOT_SPOT)
    print('pointer over the address:', over_url, 'over the site title:', over_site)
    expect(over_url[:4] == HAND_HOT_SPOT + (32, 32), 'the 32 x 32 hand over the address')
    expect(over_site[:2] != HAND_HOT_SPOT, 'the usual pointer over the site title')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--exe', required=True)
    parser.add_argument('--probe', required=True)
    parser.add_argument('--wine-run', required=True)
    parser.add_argument('--out', required=True)
    args = parser.parse_args()
    args.wine_run = os.path.abspath(args.wine_run)
    args.probe = os.path.abspath(args.probe)

    desktop = 'pinemail-gui-%d' % os.getpid()
    with xvfb.Xvfb() as server, xvfb.ProgramFolder(args.exe) as folder:
        env = server.env()
        # No argument: help mode.
        program = subprocess.Popen(
            [args.wine_run, 'explorer', '/desktop=%s,1024x768' % desktop,
             os.path.basename(folder.program)],
            cwd=folder.path, env=env, stdin=subprocess.DEVNULL)
        try:
            status, output = run_probe(args.wine_run, args.probe, desktop, 'check', env)
            expect(status == 0, 'the window passes the checks')
            check_pointer(server.display, point_targets(output))
            server.screenshot(os.path.join(args.out, 'help_window_win32.png'))
            status, _ = run_probe(args.wine_run, args.probe, desktop, 'close', env)
            expect(status == 0, 'closing the window ends the program with 0')
            program.wait(timeout=120)
            expect(folder.created_files() == [], 'no files created: %s' % folder.created_files())
        finally:
            if program.poll() is None:
                program.kill()
                program.wait()
    print('%d failure(s)' % len(failures))
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
