#!/usr/bin/env python3
"""Input-to-screen latency of the OSC controls, on the real program with its real clock.

Starts build/loopmixer headless in a copy of build/run with --osc-port and --osc-feedback, then
presses B on the home menu (the MIX screen opens) and X in the playlist chooser (back home), many
times, at random moments. The program sends its feedback right after presenting a frame, so the
time from sending the press to receiving "/loopmixer/screen" with the new screen is the time from
the message to the frame that shows its effect. Prints the distribution and the frame interval.

usage: bench/remote_latency.py [BUILD_DIR] [PRESSES]
"""
import os, random, shutil, socket, struct, subprocess, sys, tempfile, time


def pad(b):
    b += b"\0"
    return b + b"\0" * (-len(b) % 4)


def message(address, *ints):
    return pad(address.encode()) + pad(("," + "i" * len(ints)).encode()) + b"".join(struct.pack(">i", i) for i in ints)


def screen_of(packet):
    # "/loopmixer/screen\0..." ",s\0\0" "name\0..."
    if not packet.startswith(b"/loopmixer/screen\0"):
        return None
    parts = [p for p in packet.split(b"\0") if p]
    return parts[2].decode() if len(parts) >= 3 else None


def main():
    build = sys.argv[1] if len(sys.argv) > 1 else "build"
    presses = int(sys.argv[2]) if len(sys.argv) > 2 else 100
    run = tempfile.mkdtemp(prefix="loopmixer-latency-")
    shutil.copytree(os.path.join(build, "run"), run, dirs_exist_ok=True)
    listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listen.bind(("127.0.0.1", 0))
    probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    probe.bind(("127.0.0.1", 0))
    osc_port = probe.getsockname()[1]
    probe.close()
    env = dict(os.environ, SDL_VIDEODRIVER="dummy", SDL_AUDIODRIVER="dummy")
    program = subprocess.Popen([os.path.abspath(os.path.join(build, "loopmixer")), "--osc-port", str(osc_port),
                                "--osc-feedback", "127.0.0.1:%d" % listen.getsockname()[1]],
                               cwd=run, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    send = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    app = ("127.0.0.1", osc_port)
    listen.settimeout(5)

    def wait_for(screen):
        while True:
            got = screen_of(listen.recv(4096))
            if got == screen:
                return time.perf_counter()

    try:
        wait_for("home")  # after the splash
        samples = []
        for n in range(presses):
            time.sleep(random.uniform(0.05, 0.12))  # land anywhere between two frames
            button, want = ("b", "mix") if n % 2 == 0 else ("x", "home")
            sent = time.perf_counter()
            send.sendto(message("/loopmixer/button/" + button, 1), app)
            send.sendto(message("/loopmixer/button/" + button, 0), app)
            samples.append((wait_for(want) - sent) * 1000)
    finally:
        program.terminate()
        program.wait()
        shutil.rmtree(run, ignore_errors=True)
    samples.sort()
    pick = lambda q: samples[min(len(samples) - 1, int(q * len(samples)))]
    print("presses %d  latency ms: min %.1f  median %.1f  p95 %.1f  p99 %.1f  max %.1f  mean %.1f" %
          (len(samples), samples[0], pick(0.5), pick(0.95), pick(0.99), samples[-1], sum(samples) / len(samples)))
    print("over one frame interval: %d" % sum(1 for s in samples if s > 1000 / 26 + 1))
    print("frame interval at 25 fps: %.1f ms (a frame starts when more than 1000/26 ms have passed)" % (1000 / 26 + 1))


if __name__ == "__main__":
    main()
