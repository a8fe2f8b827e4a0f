#!/usr/bin/python3
# Vantor's client of a server's srvsvc service (the calls Windows' NetApi32 makes), through Samba's
# own Python bindings. Run with a command, it makes that one call and writes one JSON document to
# stdout. Run with "serve", it stays: it reads one JSON request a line from stdin, answers each with
# one JSON document on one line of stdout, and keeps its logon to the server between requests
# (logging on again when the authentication file or Kerberos ticket changes, or after the
# connection failed). Vantor keeps one such helper per monitored server. Requests:
#   {"command": "sessions"}
#   {"command": "files", "user": U}         (no "user": the open files of every user)
#   {"command": "shares"}
#   {"command": "close-session", "client": C, "user": U}
#   {"command": "close-file", "id": N}
# Answers:
#   {"ok": true, "sessions": [{"user": U, "computer": C, "opens": N, "connected_at": T, "idle": S,
#                              "shares": [NAME, ...]}, ...]}
#   (T: seconds since 1970 by this computer's clock; S: seconds; both as the server counts them;
#   "shares" only where the server tells which shares a session uses, oldest connection first)
#   {"ok": true, "files": [{"id": N, "path": P, "user": U}, ...]}
#   {"ok": true, "shares": [{"name": N, "path": P}, ...]}   (the disk shares)
#   {"ok": true}
#   {"ok": false, "error": {"kind": K, "code": N, "name": S, "message": S, ...}}
# where K is one of: werror, ntstatus, unreachable, credentials, bindings, usage, internal.
# Passwords never travel on the command line: they come from a Samba authentication file.

import argparse
import json
import os
import socket
import sys
import time

MAX_PREFERRED_LENGTH = 0xFFFFFFFF


def emit(document):
    sys.stdout.write(json.dumps(document, ensure_ascii=True))
    sys.stdout.write("\n")
    sys.stdout.flush()


class Failure(Exception):
    def __init__(self, document):
        Exception.__init__(self)
        self.document = document


def fail(kind, message, code=0, name="", **extra):
    error = {"kind": kind, "code": code, "name": name, "message": message}
    error.update(extra)
    raise Failure({"ok": False, "error": error})


def text(value):
    return "" if value is None else str(value)


def valid_host(host):
    # Goes into a DCE/RPC binding string, where "[", "]", ",", ":" and "@" have meanings.
    if not host or host.startswith("-") or len(host) > 253:
        return False
    return all(c.isalnum() or c in ".-_" for c in host)


def status_name(code):
    try:
        from samba import ntstatus
    except ImportError:
        return ""
    for name in dir(ntstatus):
        if name.startswith("NT_STATUS_") and getattr(ntstatus, name) == code:
            return name
    return ""


def probe(host, ports):
    """Why the server cannot be reached over TCP, or None when one of its ports answers.
    Samba's bindings report a refused connection as NT_STATUS_NO_MEMORY, so the reason is
    looked up here instead."""
    reason = None
    try:
        addresses = socket.getaddrinfo(host, None, type=socket.SOCK_STREAM)
    except socket.gaierror as e:
        return "the name cannot be resolved (%s)" % e.strerror
    for port in ports:
        for family, kind, proto, _, address in addresses:
            s = socket.socket(family, kind, proto)
            s.settimeout(3)
            try:
                s.connect((address[0], port) + tuple(address[2:]))
                return None
            except OSError as e:
                reason = "%s, port %d: %s" % (address[0], port, e.strerror or str(e))
            finally:
                s.close()
    return reason or "no address"


def smb_ports(lp):
    try:
        value = lp.get("smb ports")
    except Exception:
        value = None
    if isinstance(value, str):
        value = value.split()
    ports = []
    for p in value or [445, 139]:
        try:
            ports.append(int(p))
        except (TypeError, ValueError):
            pass
    return ports or [445, 139]


def kerberos_cache():
    name = os.environ.get("KRB5CCNAME")
    if name:
        return name
    default = "/tmp/krb5cc_%d" % os.getuid()
    return "FILE:" + default if os.path.exists(default) else None


def credential_sets(args, lp, credentials):
    """The ways to log on, best first: the Kerberos ticket of whoever runs Vantor, then the
    authentication file."""
    sets = []
    if not args.no_kerberos:
        cache = kerberos_cache()
        if cache:
            c = credentials.Credentials()
            c.set_conf(lp)
            try:
                c.set_named_ccache(cache, credentials.SPECIFIED, lp)
                # A missing or empty cache is accepted without complaint; only a ticket names someone.
                if c.get_principal() or c.get_username():
                    c.set_kerberos_state(credentials.MUST_USE_KERBEROS)
                    sets.append(("kerberos", c))
            except Exception:
                pass
    if args.credentials and os.path.isfile(args.credentials):
        # A password that others can read has leaked already: using it would hide that.
        if os.stat(args.credentials).st_mode & 0o077:
            fail("credentials", "others than its owner may read it; allow only the owner (chmod 600) and "
                 "change the password it holds", path=args.credentials)
        c = credentials.Credentials()
        c.set_conf(lp)
        c.set_kerberos_state(credentials.DONT_USE_KERBEROS)
        try:
            if c.parse_file(args.credentials) is False:
                raise ValueError("unreadable")
        except Exception:
            fail("credentials", "the authentication file cannot be read", path=args.credentials)
        if not c.get_username():
            fail("credentials", "the authentication file names no user (a line \"username = NAME\")",
                 path=args.credentials)
        sets.append(("file", c))
    return sets


def connect(args, lp, srvsvc, credentials):
    import samba

    sets = credential_sets(args, lp, credentials)
    if not sets:
        fail("credentials", "no Kerberos ticket and no authentication file", path=args.credentials or "")
    binding = "ncacn_np:" + args.server
    last = None
    for how, c in sets:
        try:
            return srvsvc.srvsvc(binding, lp, c), c.get_username()
        except samba.NTSTATUSError as e:
            last = (how, c.get_username(), e)
    how, user, e = last
    code = e.args[0] if e.args else 0
    name = status_name(code)
    logon = name in ("NT_STATUS_LOGON_FAILURE", "NT_STATUS_WRONG_PASSWORD", "NT_STATUS_NO_SUCH_USER",
                     "NT_STATUS_ACCOUNT_DISABLED", "NT_STATUS_ACCOUNT_LOCKED_OUT",
                     "NT_STATUS_PASSWORD_EXPIRED", "NT_STATUS_ACCESS_DENIED")
    if not logon:
        reason = probe(args.server, smb_ports(lp))
        if reason:
            fail("unreachable", reason, code=code, name=name)
    fail("ntstatus", text(e.args[1]) if len(e.args) > 1 else "", code=code, name=name, account=user or "",
         via=how)


def unc(server):
    return "\\\\" + server


# NetConnEnum is one call per client computer: past this many, the sessions go without their shares
# rather than the whole answer coming too late.
MAX_CONNECTION_QUERIES = 32


def connections(conn, server, computers, srvsvc):
    """The shares each (computer, lower-case user) has connected, oldest first, as far as the
    server tells. Samba answers every qualifier with one made-up IPC$ connection of "dummy_user", so
    IPC$ (the pipe this helper itself talks through, on a real server) never counts as a share."""
    import samba

    found = {}
    for computer in computers[:MAX_CONNECTION_QUERIES]:
        ctr = srvsvc.NetConnInfoCtr()
        ctr.level = 1
        ctr.ctr = srvsvc.NetConnCtr1()
        try:
            info, _total, _resume = conn.NetConnEnum(unc(server), unc(computer), ctr, MAX_PREFERRED_LENGTH, None)
        except (samba.WERRORError, samba.NTSTATUSError):
            # Refused or not offered: the same for every computer, so ask no further.
            break
        rows = [c for c in ((info.ctr.array or []) if info.ctr else [])
                if text(c.share) and text(c.share).upper() != "IPC$"]
        # The longest connected first: the order the client connected them in.
        rows.sort(key=lambda c: -int(c.conn_time))
        for c in rows:
            names = found.setdefault((computer.lower(), text(c.user).lower()), [])
            if text(c.share) not in names:
                names.append(text(c.share))
    return found


def sessions(conn, server, srvsvc):
    ctr = srvsvc.NetSessInfoCtr()
    ctr.level = 1
    ctr.ctr = srvsvc.NetSessCtr1()
    info, _total, _resume = conn.NetSessEnum(unc(server), None, None, ctr, MAX_PREFERRED_LENGTH, None)
    out = []
    # The server counts how long each session has been connected and idle, not when it began.
    now = int(time.time())
    for s in (info.ctr.array or []) if info.ctr else []:
        row = {"user": text(s.user), "computer": text(s.client).lstrip("\\"), "opens": int(s.num_open)}
        # A server that does not know answers 0xFFFFFFFF (-1): that is no time, not one near 1890.
        if 0 <= int(s.time) < 0xFFFFFFFF:
            row["connected_at"] = now - int(s.time)
        if 0 <= int(s.idle_time) < 0xFFFFFFFF:
            row["idle"] = int(s.idle_time)
        out.append(row)
    computers = []
    for s in out:
        if s["computer"] and s["computer"] not in computers:
            computers.append(s["computer"])
    used = connections(conn, server, computers, srvsvc)
    for s in out:
        names = used.get((s["computer"].lower(), s["user"].lower()))
        if names:
            s["shares"] = names
    return {"ok": True, "sessions": out}


def files(conn, server, user, srvsvc):
    ctr = srvsvc.NetFileInfoCtr()
    ctr.level = 3
    ctr.ctr = srvsvc.NetFileCtr3()
    info, _total, _resume = conn.NetFileEnum(unc(server), None, user, ctr, MAX_PREFERRED_LENGTH, None)
    out = []
    for f in (info.ctr.array or []) if info.ctr else []:
        out.append({"id": int(f.fid) & 0xFFFFFFFF, "path": text(f.path), "user": text(f.user)})
    return {"ok": True, "files": out}


STYPE_MASK = 0xFF
STYPE_DISKTREE = 0


def shares(conn, server, srvsvc):
    # Level 2 carries the folder; a server gives it to administrators only.
    ctr = srvsvc.NetShareInfoCtr()
    ctr.level = 2
    ctr.ctr = srvsvc.NetShareCtr2()
    info, _total, _resume = conn.NetShareEnumAll(unc(server), ctr, MAX_PREFERRED_LENGTH, None)
    out = []
    for s in (info.ctr.array or []) if info.ctr else []:
        if (int(s.type) & STYPE_MASK) == STYPE_DISKTREE:
            out.append({"name": text(s.name), "path": text(s.path)})
    return {"ok": True, "shares": out}


def call(conn, server, account, command, arguments, srvsvc):
    """One srvsvc call on an open connection: its answer, or a Failure."""
    import samba

    try:
        if command == "sessions":
            return sessions(conn, server, srvsvc)
        if command == "files":
            return files(conn, server, arguments.get("user"), srvsvc)
        if command == "shares":
            return shares(conn, server, srvsvc)
        if command == "close-session":
            conn.NetSessDel(unc(server), unc(arguments["client"].lstrip("\\")), arguments["user"])
            return {"ok": True}
        fid = arguments["id"]
        if not 0 <= fid <= 0xFFFFFFFF:
            fail("usage", "the file id is out of range")
        conn.NetFileClose(unc(server), fid)
        return {"ok": True}
    except samba.WERRORError as e:
        fail("werror", text(e.args[1]) if len(e.args) > 1 else "", code=e.args[0] if e.args else 0,
             name=text(e.args[1]) if len(e.args) > 1 else "", account=account or "")
    except samba.NTSTATUSError as e:
        code = e.args[0] if e.args else 0
        fail("ntstatus", text(e.args[1]) if len(e.args) > 1 else "", code=code, name=status_name(code),
             account=account or "", connection=True)


def request_arguments(command, arguments):
    """The arguments of a request as a dict, checked; a Failure when they do not fit the command."""
    def texts(*names):
        for n in names:
            if not isinstance(arguments.get(n), str):
                fail("usage", "%s needs the text \"%s\"" % (command, n))

    if command == "files":
        if "user" in arguments and arguments["user"] is not None:
            texts("user")
    elif command == "close-session":
        texts("client", "user")
    elif command == "close-file":
        fid = arguments.get("id")
        if isinstance(fid, str):
            try:
                fid = int(fid, 10)
            except ValueError:
                fail("usage", "the file id is not a number")
        if not isinstance(fid, int) or isinstance(fid, bool):
            fail("usage", "the file id is not a number")
        arguments = dict(arguments, id=fid)
    elif command not in ("sessions", "shares"):
        fail("usage", "unknown command")
    return arguments


def load_bindings():
    try:
        import samba  # noqa: F401
        from samba import credentials, param
        from samba.dcerpc import srvsvc
    except ImportError as e:
        fail("bindings", str(e))
    return credentials, param, srvsvc


def load_parm(args, param):
    lp = param.LoadParm()
    try:
        if args.config:
            lp.load(args.config)
        else:
            lp.load_default()
    except Exception as e:
        if args.config:
            fail("internal", "cannot load %s: %s" % (args.config, e))
    return lp


def logon_state(args):
    """What the logon was made with: a changed authentication file (its permissions included) or
    Kerberos cache means logging on again."""
    state = []
    cache = kerberos_cache() if not args.no_kerberos else None
    for path in (args.credentials, cache[len("FILE:"):] if cache and cache.startswith("FILE:") else cache):
        try:
            st = os.stat(path) if path else None
            state.append((path, st.st_mtime_ns, st.st_size, st.st_ino, st.st_mode) if st else (path,))
        except OSError:
            state.append((path, None))
    return tuple(state)


def serve(args):
    conn = None
    account = None
    made_with = None
    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            try:
                request = json.loads(line)
            except ValueError:
                fail("usage", "the request is not a JSON document")
            if not isinstance(request, dict) or not isinstance(request.get("command"), str):
                fail("usage", "the request names no command")
            command = request["command"]
            arguments = request_arguments(command, request)
            credentials, param, srvsvc = load_bindings()
            state = logon_state(args)
            if conn is None or state != made_with:
                conn = None
                lp = load_parm(args, param)
                made_with = state
                conn, account = connect(args, lp, srvsvc, credentials)
            emit(call(conn, args.server, account, command, arguments, srvsvc))
        except Failure as f:
            # A connection that failed underneath is made again for the next request.
            if f.document["error"].pop("connection", False):
                conn = None
            emit(f.document)
        except Exception as e:  # keep one answer per request, whatever went wrong
            conn = None
            emit({"ok": False, "error": {"kind": "internal", "code": 0, "name": "",
                                         "message": "%s: %s" % (type(e).__name__, e)}})


def main():
    parser = argparse.ArgumentParser(prog="vantor-srvsvc", add_help=True)
    parser.add_argument("--config", help="smb.conf to read (client settings, smb ports)")
    parser.add_argument("--credentials", help="Samba authentication file (the format of -A)")
    parser.add_argument("--no-kerberos", action="store_true", help="do not use a Kerberos ticket")
    parser.add_argument("server")
    parser.add_argument("command", choices=["sessions", "files", "shares", "close-session", "close-file", "serve"])
    parser.add_argument("arguments", nargs="*")
    try:
        args = parser.parse_args()
    except SystemExit:
        fail("usage", "bad arguments")

    wanted = {"sessions": 0, "files": 1, "shares": 0, "close-session": 2, "close-file": 1, "serve": 0}[args.command]
    if len(args.arguments) != wanted:
        fail("usage", "%s takes %d arguments" % (args.command, wanted))
    if not valid_host(args.server):
        fail("usage", "not a server name", name="bad-server")
    if args.command == "serve":
        serve(args)
        return

    named = {"sessions": [], "files": ["user"], "shares": [], "close-session": ["client", "user"], "close-file": ["id"]}
    arguments = request_arguments(args.command, dict(zip(named[args.command], args.arguments)))
    credentials, param, srvsvc = load_bindings()
    lp = load_parm(args, param)
    conn, account = connect(args, lp, srvsvc, credentials)
    document = call(conn, args.server, account, args.command, arguments, srvsvc)
    emit(document)


if __name__ == "__main__":
    try:
        main()
    except Failure as f:
        f.document["error"].pop("connection", None)
        emit(f.document)
    except Exception as e:  # keep the answer one JSON document, whatever went wrong
        emit({"ok": False, "error": {"kind": "internal", "code": 0, "name": "",
                                     "message": "%s: %s" % (type(e).__name__, e)}})
