"""A service of another kind on loopback, as a computer's port may hold: "banner" greets with an SSH banner and
answers every line with another; "overlong" answers every line with one longer than a reply line may be.
Run as a program: prints "listening on PORT" once it accepts connections."""

import socket
import sys
import threading


def serve(connection, mode):
    try:
        if mode == "banner":
            connection.sendall(b"SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n")
        while connection.recv(4096):
            connection.sendall(b"Protocol mismatch.\r\n" if mode == "banner" else b"+[1]" + b"x" * 3000000 + b"\n")
    except OSError:
        pass


def main(mode):
    server = socket.socket()
    server.bind(("127.0.0.1", 0))
    server.listen()
    print(f"listening on {server.getsockname()[1]}", flush=True)
    while True:
        connection, _ = server.accept()
        threading.Thread(target=serve, args=(connection, mode), daemon=True).start()


if __name__ == "__main__":
    main(sys.argv[1])
