#!/usr/bin/python3
# A client that opens files on a private Samba server with full access (FILE_ALL_ACCESS), as
# Windows Explorer may: the open that breaks smbstatus's JSON listing. Samba's Python client
# bindings dial port 445 only, so the process moves into a network namespace of its own, where
# 127.0.0.1:445 is a relay to the server's own port; connections to that port are opened before
# the move, in the host's namespace, so nothing leaves loopback and nothing but this process
# sees port 445. Needs root (the namespace).
#
#   full-access-open.py CONFIG USER PASSWORD PORT
# reads "open NAME" lines (NAME inside the share "docs") and answers each with "opened" or
# "error TEXT"; it ends, and its session with it, when its input ends.
import ctypes
import fcntl
import os
import select
import socket
import struct
import sys

CLONE_NEWNET = 0x40000000
SIOCGIFFLAGS, SIOCSIFFLAGS, IFF_UP = 0x8913, 0x8914, 0x1


def relay(listener, upstream, alive):
    peer = {}
    while True:
        ready, _, _ = select.select([listener, alive] + list(peer), [], [])
        if alive in ready:
            os._exit(0)
        for s in ready:
            if s is listener:
                conn, _ = listener.accept()
                if upstream:
                    up = upstream.pop(0)
                    peer[conn], peer[up] = up, conn
                else:
                    conn.close()
            elif s in peer:
                try:
                    data = s.recv(65536)
                except OSError:
                    data = b""
                if data:
                    peer[s].sendall(data)
                else:
                    other = peer.pop(s)
                    peer.pop(other, None)
                    other.close()
                    s.close()


def main():
    config, user, password, port = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
    # The bindings try 445 and 139 at once: one connection each.
    upstream = [socket.create_connection(("127.0.0.1", port), timeout=10) for _ in range(2)]
    for s in upstream:
        s.settimeout(None)
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET) != 0:
        print("error unshare: " + os.strerror(ctypes.get_errno()), flush=True)
        return 1
    ctl = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    flags = struct.unpack("16sH", fcntl.ioctl(ctl, SIOCGIFFLAGS, struct.pack("16sH", b"lo", 0)))[1]
    fcntl.ioctl(ctl, SIOCSIFFLAGS, struct.pack("16sH", b"lo", flags | IFF_UP))
    listener = socket.socket()
    listener.bind(("127.0.0.1", 445))
    listener.listen(4)
    alive_r, alive_w = os.pipe()
    # The bindings hold the interpreter while they wait on the network: the relay runs in a
    # process of its own, which ends when this one does.
    if os.fork() == 0:
        os.close(alive_w)
        relay(listener, upstream, alive_r)
    os.close(alive_r)
    for s in upstream:
        s.close()
    listener.close()

    from samba import credentials
    from samba.samba3 import libsmb_samba_internal as libsmb
    from samba.samba3 import param as s3param
    lp = s3param.get_context()
    lp.load(config)
    creds = credentials.Credentials()
    creds.guess(lp)
    creds.set_username(user)
    creds.set_password(password)
    try:
        conn = libsmb.Conn("127.0.0.1", "docs", lp, creds)
    except Exception as e:  # the reason goes to the test
        print("error connect: %s" % (e,), flush=True)
        return 1
    held = []
    for line in sys.stdin:
        command, _, name = line.strip().partition(" ")
        if command != "open":
            print("error unknown command", flush=True)
            continue
        try:
            held.append(conn.create(name, DesiredAccess=0x1F01FF, ShareAccess=7, CreateDisposition=1))
            print("opened", flush=True)
        except Exception as e:
            print("error %s" % (e,), flush=True)
    return 0


sys.exit(main())
