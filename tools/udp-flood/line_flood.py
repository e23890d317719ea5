#!/usr/bin/env python3
"""A hostile agent for the control channel: answers the client's auth with
working keys, then sends lines as fast as the socket takes them, and reports
the client's CPU use meanwhile.

  line_flood.py CLIENT_BINARY [SECONDS] [LINE]
Starts the client against itself on 127.0.0.1:48001 (run under a display;
nothing else may use the session ports) and prints one line of figures.
"""
import base64, os, socket, subprocess, sys, time

client_binary = sys.argv[1]
seconds = float(sys.argv[2]) if len(sys.argv) > 2 else 10
line = (sys.argv[3] if len(sys.argv) > 3 else '{"type":"pong","ts":1}').encode() + b"\n"

def cpu_seconds(pid):
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")

server = socket.create_server(("127.0.0.1", 48001))
env = dict(os.environ, SDL_AUDIODRIVER="disk", SDL_DISKAUDIOFILE="/dev/null")
client = subprocess.Popen([client_binary, "--host", "127.0.0.1", "--token", "flood", "--width", "1280",
                           "--height", "720"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
server.settimeout(15)
connection, _ = server.accept()
connection.recv(65536)  # the auth line
keys = {name: base64.b64encode(os.urandom(32)).decode() for name in ("video_key", "audio_key", "input_key")}
ready = '{"type":"session_ready","video_key":"%(video_key)s","audio_key":"%(audio_key)s","input_key":"%(input_key)s"}\n'
connection.sendall((ready % keys).encode())
time.sleep(1)
chunk = line * (65536 // len(line))
started, cpu_before = time.monotonic(), cpu_seconds(client.pid)
sent = 0
connection.settimeout(0.2)
while time.monotonic() - started < seconds and client.poll() is None:
    try:
        sent += connection.send(chunk)
    except socket.timeout:
        pass
elapsed = time.monotonic() - started
alive = client.poll() is None
cpu = (cpu_seconds(client.pid) - cpu_before) / elapsed * 100 if alive else float("nan")
client.terminate()
log = client.communicate(timeout=10)[0].decode(errors="replace")
warnings = sum(1 for l in log.splitlines() if "more than 200 lines" in l)
print(f"line flood {elapsed:.1f} s: {sent // len(line) / elapsed:,.0f} lines/s taken by the connection "
      f"({sent / elapsed / 1e6:.1f} MB/s), client CPU {cpu:.0f} % of a core, "
      f"{warnings} throttle warnings, client {'alive' if alive else 'gone'}")
