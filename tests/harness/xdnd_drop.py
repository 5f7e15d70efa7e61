#!/usr/bin/python3
"""Drops files on an X window as a file manager does (the XDND protocol, version 5):
enter, position, drop, the file names handed over as text/uri-list when the window asks
for them, until it says it has finished.   xdnd_drop.py WINDOW FILE...
Exit code 0 once the window took the drop, 1 if it refused it or did not answer in 10 s."""
import os
import select
import sys
import time
import urllib.parse

from Xlib import X, display
from Xlib.protocol import event

target_id = int(sys.argv[1], 0)
uris = "".join("file://" + urllib.parse.quote(os.path.abspath(p)) + "\r\n" for p in sys.argv[2:]).encode()

d = display.Display()
atom = lambda name: d.intern_atom(name)
enter, position, status, drop, finished = (atom("Xdnd" + n) for n in ("Enter", "Position", "Status", "Drop", "Finished"))
selection, copy, uri_list = atom("XdndSelection"), atom("XdndActionCopy"), atom("text/uri-list")

source = d.screen().root.create_window(0, 0, 1, 1, 0, X.CopyFromParent)
target = d.create_resource_object("window", target_id)
source.set_selection_owner(selection, X.CurrentTime)


def send(kind, data):
    message = event.ClientMessage(window=target, client_type=kind, data=(32, [source.id] + data))
    target.send_event(message, event_mask=0)
    d.flush()


geometry = target.get_geometry()
origin = target.translate_coords(d.screen().root, 0, 0)
x, y = -origin.x + geometry.width // 2, -origin.y + geometry.height // 2
send(enter, [5 << 24, uri_list, 0, 0])
send(position, [0, (x << 16) | y, X.CurrentTime, copy])

deadline = time.time() + 10
dropped = False
while time.time() < deadline:
    if not d.pending_events():
        select.select([d.fileno()], [], [], 0.1)
        continue
    e = d.next_event()
    if e.type == X.ClientMessage and e.client_type == status and not dropped:
        if not e.data[1][1] & 1:
            sys.exit("the window refused the drop")
        send(drop, [0, X.CurrentTime, 0, 0])
        dropped = True
    elif e.type == X.SelectionRequest:
        e.requestor.change_property(e.property, uri_list, 8, uris)
        reply = event.SelectionNotify(time=e.time, requestor=e.requestor, selection=e.selection,
                                      target=e.target, property=e.property)
        e.requestor.send_event(reply)
        d.flush()
    elif e.type == X.ClientMessage and e.client_type == finished:
        sys.exit(0)
sys.exit("the window did not take the drop within 10 s")
