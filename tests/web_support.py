"""What the browser-surface tests share: the real program started in a copy of the run folder, its
OSC feedback read from a UDP socket, a small WebSocket client for what a browser would not send,
and conditions waited for with generous deadlines."""
import base64, os, shutil, socket, struct, subprocess, tempfile, time


def free_port(kind=socket.SOCK_STREAM):
    s = socket.socket(socket.AF_INET, kind)
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def wait_until(condition, what, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


def osc_messages(packet):
    """(address, [args]) of one OSC message of ints, floats and strings."""
    def string(at):
        end = packet.index(b"\0", at)
        return packet[at:end].decode(), (end + 4) & ~3
    address, at = string(0)
    tags, at = string(at)
    args = []
    for t in tags[1:]:
        if t == "i":
            args.append(struct.unpack(">i", packet[at:at + 4])[0]); at += 4
        elif t == "f":
            args.append(struct.unpack(">f", packet[at:at + 4])[0]); at += 4
        elif t == "s":
            s, at = string(at); args.append(s)
    return address, args


def osc_message(address, tags="", *args):
    pad = lambda b: b + b"\0" * (4 - len(b) % 4)
    out = pad(address.encode()) + pad(("," + tags).encode())
    for t, a in zip(tags, args):
        out += struct.pack(">i", a) if t == "i" else struct.pack(">f", a)
    return out


class Program:
    """build/loopmixer headless in a temporary copy of the run folder, with OSC in and feedback out."""

    def __init__(self, binary, run_dir, *flags, missing=()):
        self.folder = tempfile.mkdtemp(prefix="loopmixer-web-")
        shutil.copytree(run_dir, self.folder, dirs_exist_ok=True)
        for clip in missing:  # clips of the playlists taken away before the start
            os.remove(os.path.join(self.folder, "videos", clip))
        self.feedback = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.feedback.bind(("127.0.0.1", 0))
        self.feedback.settimeout(0.05)
        self.osc_port = free_port(socket.SOCK_DGRAM)
        self.web_port = free_port()
        self.state = {}
        env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
        self.process = subprocess.Popen(
            [binary, "--web-port", str(self.web_port), "--osc-port", str(self.osc_port),
             "--osc-feedback", "127.0.0.1:%d" % self.feedback.getsockname()[1]] + list(flags),
            cwd=self.folder, env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        # The address is printed once the server listens.
        self.address = None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            line = self.process.stdout.readline().decode(errors="replace")
            if not line:
                break
            if line.startswith("web: "):
                self.address = line[5:].strip()
                break
        assert self.address, "the program printed no web address"

    def read_feedback(self):
        while True:
            try:
                address, args = osc_messages(self.feedback.recv(4096))
            except socket.timeout:
                return
            self.state[address] = args[0] if args else None

    def wait_for(self, address, test, seconds=30):
        def check():
            self.read_feedback()
            return address in self.state and test(self.state[address])
        wait_until(check, "%s (last: %r)" % (address, self.state.get(address)), seconds)

    def send_osc(self, address, tags="", *args):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        s.sendto(osc_message(address, tags, *args), ("127.0.0.1", self.osc_port))
        s.close()

    def press(self, button):
        self.send_osc("/loopmixer/button/" + button, "i", 1)
        self.send_osc("/loopmixer/button/" + button, "i", 0)

    def alive(self):
        return self.process.poll() is None

    def log(self):
        with open(os.path.join(self.folder, "data", "log.txt"), errors="replace") as f:
            return f.read()

    def close(self):
        if self.alive():
            self.process.terminate()
            try:
                self.process.wait(30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        status = self.process.returncode
        shutil.rmtree(self.folder, ignore_errors=True)
        return status


def http_request(port, raw):
    """Sends raw request bytes; returns the status code (0 when the server closed without one)."""
    s = socket.create_connection(("127.0.0.1", port), timeout=10)
    try:
        s.sendall(raw)
        reply = b""
        while b"\r\n" not in reply:
            chunk = s.recv(4096)
            if not chunk:
                break
            reply += chunk
    except (ConnectionResetError, BrokenPipeError):
        return 0
    finally:
        s.close()
    parts = reply.split(b" ", 2)
    return int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0


class WebSocket:
    """A client WebSocket over a plain socket; frames are masked unless asked otherwise."""

    def __init__(self, port, path="/ws", origin=None, host=None):
        host = host or "127.0.0.1:%d" % port
        origin = origin or "http://" + host
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=10)
        key = base64.b64encode(os.urandom(16)).decode()
        self.socket.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                             "Sec-WebSocket-Key: %s\r\nSec-WebSocket-Version: 13\r\nOrigin: %s\r\n\r\n"
                             % (path, host, key, origin)).encode())
        reply = b""
        while b"\r\n\r\n" not in reply:
            chunk = self.socket.recv(1)
            if not chunk:
                break
            reply += chunk
        parts = reply.split(b" ", 2)
        self.status = int(parts[1]) if len(parts) > 1 and parts[1].isdigit() else 0
        self.buffer = b""

    def frame(self, opcode, payload, masked=True, fin=True):
        head = bytes([(0x80 if fin else 0) | opcode])
        n = len(payload)
        m = 0x80 if masked else 0
        head += bytes([m | n]) if n < 126 else bytes([m | 126]) + struct.pack(">H", n) if n < 65536 else bytes([m | 127]) + struct.pack(">Q", n)
        if masked:
            mask = os.urandom(4)
            payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
            head += mask
        return head + payload

    def send_text(self, text):
        self.socket.sendall(self.frame(1, text.encode()))

    def receive(self):
        """(opcode, payload) of the next frame, or None when the connection ended."""
        def need(n):
            while len(self.buffer) < n:
                chunk = self.socket.recv(65536)
                if not chunk:
                    raise ConnectionError
                self.buffer += chunk
        try:
            need(2)
            opcode, n = self.buffer[0] & 15, self.buffer[1] & 127
            at = 2
            if n == 126:
                need(4); n = struct.unpack(">H", self.buffer[2:4])[0]; at = 4
            elif n == 127:
                need(10); n = struct.unpack(">Q", self.buffer[2:10])[0]; at = 10
            need(at + n)
            payload, self.buffer = self.buffer[at:at + n], self.buffer[at + n:]
            return opcode, payload
        except (ConnectionError, OSError):
            return None

    def wait_text(self, text, seconds=30):
        """True when the text message arrives before the connection ends or the time runs out."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.socket.settimeout(max(0.01, deadline - time.monotonic()))
            got = self.receive()
            if got is None:
                return False
            if got == (1, text.encode()):
                return True
        return False

    def closed_by_server(self, seconds=10):
        """True when the server ends the connection (frames it sends meanwhile are read and dropped)."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            self.socket.settimeout(max(0.01, deadline - time.monotonic()))
            got = self.receive()
            if got is None:
                return time.monotonic() < deadline
            if got[0] == 8:
                return True
        return False

    def close(self):
        self.socket.close()
