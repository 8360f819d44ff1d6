#!/usr/bin/python3
# A stand-in screen reader for bench/parse-bench, in two processes (AT-SPI calls are not made
# from two threads of one):
#   listen          listens to every object, window and focus event of the desktop and asks
#                   each event's source for its name, role and state, as a screen reader does;
#                   runs until terminated, then prints how many events it heard;
#   walk FOLDER     each time the bench makes FOLDER/request, removes it, reads the name of
#                   every cell of the parse-bench window's lists (a review of the whole list),
#                   then makes FOLDER/done; runs until terminated.
import os
import signal
import sys
import time

import pyatspi

heard = 0


def on_event(event):
    global heard
    heard += 1
    try:
        source = event.source
        _ = (source.name, source.getRole(), source.getState())
    except Exception:
        pass  # the source may be gone already


def lists_of(accessible):
    role = accessible.getRole()
    if role in (pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_LIST):
        yield accessible
        return
    for i in range(accessible.childCount):
        child = accessible.getChildAtIndex(i)
        if child is not None:
            yield from lists_of(child)


def bench_window():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and "parse-bench" in (app.name or ""):
            return app
    return None


def walk(folder):
    request = os.path.join(folder, "request")
    while True:
        if not os.path.exists(request):
            time.sleep(0.05)
            continue
        os.remove(request)
        start = time.time()
        cells = 0
        app = bench_window()
        for table in lists_of(app) if app is not None else []:
            for i in range(table.childCount):
                cell = table.getChildAtIndex(i)
                if cell is not None:
                    _ = cell.name
                    cells += 1
        print(f"reader: read {cells} cells in {time.time() - start:.1f} s", flush=True)
        open(os.path.join(folder, "done"), "w").close()


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "walk":
        walk(sys.argv[2])
        return

    def stop(*_):
        print(f"reader: heard {heard} events", flush=True)
        sys.exit(0)

    signal.signal(signal.SIGTERM, stop)
    pyatspi.Registry.registerEventListener(on_event, "object:", "window:", "focus:")
    print("reader: listening", flush=True)
    pyatspi.Registry.start()


main()
