#!/usr/bin/env python3
"""The browser surface against what no page of ours sends, on the real program (local side, no
token): foreign Host and Origin, oversized headers, broken WebSocket frames, JSON of wrong types,
a ninth page, and 1,000 messages a second. After each, the program still serves and plays.

usage: web_hostile_test.py LOOPMIXER RUN_DIR
"""
import json, os, socket, struct, sys, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from web_support import Program, WebSocket, http_request, wait_until


def get(port, path="/", host=None, extra=""):
    host = host or "127.0.0.1:%d" % port
    return http_request(port, ("GET %s HTTP/1.1\r\nHost: %s\r\n%s\r\n" % (path, host, extra)).encode())


def send_queue(server_port, client_port):
    """Bytes the server's side of a connection holds unsent (/proc/net/tcp's tx_queue)."""
    with open("/proc/net/tcp") as f:
        for line in f.readlines()[1:]:
            fields = line.split()
            local, remote = int(fields[1].split(":")[1], 16), int(fields[2].split(":")[1], 16)
            if local == server_port and remote == client_port:
                return int(fields[4].split(":")[0], 16)
    return 0


def page(port):
    """A WebSocket, once a slot is free (pages just closed leave theirs when the server sees it)."""
    return wait_until(lambda: (lambda w: w if w.status == 101 else None)(WebSocket(port)), "a free page slot")


def fade(level):
    return json.dumps({"address": "/loopmixer/fade", "args": [level / 15]})


def main():
    program = Program(sys.argv[1], sys.argv[2])
    port = program.web_port
    try:
        assert "?token=" not in program.address
        assert get(port) == 200 and get(port, "/", "localhost:%d" % port) == 200
        # Another name for this machine (a page of another site through its own name), another
        # site's WebSocket, a path outside the page's files.
        assert get(port, "/", "evil.example:%d" % port) == 403
        assert WebSocket(port, origin="http://evil.example").status == 403
        assert WebSocket(port, origin="null").status == 403
        for path in ["/../data/log.txt", "/data/remote.xml", "/thumb/../../data/log.txt", "/thumb/99", "/%2e%2e/data/log.txt"]:
            assert get(port, path) in (403, 404), path

        # Headers beyond the bound are refused; the server goes on.
        assert get(port, "/", extra="X-Long: %s\r\n" % ("a" * 20000)) in (0, 400, 413, 431)
        assert get(port) == 200

        # Broken frames end that connection only: an unknown opcode, a fragment, a length far past
        # what arrives, a text frame over the size bound. (civetweb takes unmasked frames.)
        for broken in [lambda ws: ws.frame(3, b"xx"),
                       lambda ws: ws.frame(1, b'{"address":', fin=False),
                       lambda ws: bytes([0x81, 0xFF]) + struct.pack(">Q", 1 << 62) + b"mask" + b"x" * 100,
                       lambda ws: ws.frame(1, b" " * 5000)]:
            ws = WebSocket(port)
            assert ws.status == 101
            ws.socket.sendall(broken(ws))
            assert ws.closed_by_server(), "a broken frame left the connection open"
            ws.close()

        # Messages of wrong shape or types change nothing; the good one after them acts.
        program.wait_for("/loopmixer/fade", lambda f: f == 0.0)
        ws = WebSocket(port)
        for bad in ['{"address":"/loopmixer/fade","args":["x"]}', '{"address":"/loopmixer/fade","args":[0.5,1]}',
                    '{"address":"/loopmixer/fade","args":[{"v":1}]}', '{"address":"/loopmixer/fade","args":[[1]]}',
                    '{"address":"/loopmixer/fade","args":[null]}', '{"address":"/loopmixer/fade","args":[1e400]}',
                    '{"address":"/loopmixer/fade","args":[2]}', '{"address":"/loopmixer/fade","args":[-0.5]}',
                    '{"address":5,"args":[1]}', '{"address":"/loopmixer/fade","args":[1],"x":1}',
                    '{"address":"/loopmixer/fade","args":[1]} trailing', '["/loopmixer/fade",1]', 'not json',
                    '{"address":"loopmixer/fade","args":[1]}', '{"address":"/loopmixer/fade","args":[1]',
                    '\x00\xff\xfe', '{"address":"/loopmixer/blend","args":[5]}', '{"address":"/loopmixer/mode","args":["C"]}']:
            ws.send_text(bad)
        ws.send_text(fade(6))
        program.wait_for("/loopmixer/fade", lambda f: abs(f - 0.4) < 1e-6)
        assert program.state.get("/loopmixer/blend", 0) == 0

        # Eight pages at once, not nine.
        pages = [ws] + [WebSocket(port) for _ in range(7)]
        assert all(p.status == 101 for p in pages)
        assert WebSocket(port).status == 503
        for p in pages:
            p.close()

        # A page that stops reading (its socket full up to the server's side) holds up nobody: a
        # new page connects and is kept in step.
        stuck = page(port)
        stuck.socket.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        stuck_port = stuck.socket.getsockname()[1]
        queued = []
        def full():
            queued.append(send_queue(port, stuck_port))
            if len(queued) % 40 == 0:
                stuck.send_text("still here")  # it sends (ignored) but never reads: not timed out
            return len(queued) > 20 and queued[-1] > 0 and queued[-1] == queued[-20]  # stopped growing for 1 s
        wait_until(full, "the stuck page's socket to fill", 120)
        other = page(port)
        other.send_text(fade(12))
        assert other.wait_text('{"address":"/loopmixer/fade","args":[0.8]}'), "a page kept in step beside a stuck one"
        other.close()
        stuck.close()

        # 1,000 messages a second for two seconds: every one is taken or counted as dropped, the
        # last one acts, and the picture keeps its pace.
        ws = page(port)
        start = time.monotonic()
        for n in range(2000):
            ws.send_text(fade(n % 15))
            while time.monotonic() < start + (n + 1) / 1000:
                time.sleep(0.0005)
        ws.send_text(fade(9))
        program.wait_for("/loopmixer/fade", lambda f: abs(f - 0.6) < 1e-6)
        ws.close()
        assert get(port) == 200 and program.alive()
    finally:
        status = program.close()
    assert status == 0, "exit status %d" % status
    print("web_hostile: passed")


if __name__ == "__main__":
    main()
