#!/usr/bin/python3
# Vantor's client of a server's srvsvc service (the calls Windows' NetApi32 makes), through Samba's
# own Python bindings. Vantor runs it once per call with an argument vector and a time limit and
# reads one JSON document from stdout:
#   {"ok": true, "sessions": [{"user": U, "computer": C, "opens": N}, ...]}
#   {"ok": true, "files": [{"id": N, "path": P, "user": U}, ...]}
#   {"ok": true}
#   {"ok": false, "error": {"kind": K, "code": N, "name": S, "message": S, ...}}
# where K is one of: werror, ntstatus, unreachable, credentials, bindings, usage, internal.
# Passwords never travel on the command line: they come from a Samba authentication file.

import argparse
import json
import os
import socket
import sys

MAX_PREFERRED_LENGTH = 0xFFFFFFFF


def emit(document):
    sys.stdout.write(json.dumps(document, ensure_ascii=True))
    sys.stdout.write("\n")
    sys.stdout.flush()


def fail(kind, message, code=0, name="", **extra):
    error = {"kind": kind, "code": code, "name": name, "message": message}
    error.update(extra)
    emit({"ok": False, "error": error})
    sys.exit(0)


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


def sessions(conn, server, srvsvc):
    ctr = srvsvc.NetSessInfoCtr()
    ctr.level = 1
    ctr.ctr = srvsvc.NetSessCtr1()
    info, _total, _resume = conn.NetSessEnum(unc(server), None, None, ctr, MAX_PREFERRED_LENGTH, None)
    out = []
    for s in (info.ctr.array or []) if info.ctr else []:
        out.append({"user": text(s.user), "computer": text(s.client).lstrip("\\"), "opens": int(s.num_open)})
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


def main():
    parser = argparse.ArgumentParser(prog="vantor-srvsvc", add_help=True)
    parser.add_argument("--config", help="smb.conf to read (client settings, smb ports)")
    parser.add_argument("--credentials", help="Samba authentication file (the format of -A)")
    parser.add_argument("--no-kerberos", action="store_true", help="do not use a Kerberos ticket")
    parser.add_argument("server")
    parser.add_argument("command", choices=["sessions", "files", "close-session", "close-file"])
    parser.add_argument("arguments", nargs="*")
    try:
        args = parser.parse_args()
    except SystemExit:
        fail("usage", "bad arguments")

    wanted = {"sessions": 0, "files": 1, "close-session": 2, "close-file": 1}[args.command]
    if len(args.arguments) != wanted:
        fail("usage", "%s takes %d arguments" % (args.command, wanted))
    if not valid_host(args.server):
        fail("usage", "not a server name", name="bad-server")

    try:
        import samba
        from samba import credentials, param
        from samba.dcerpc import srvsvc
    except ImportError as e:
        fail("bindings", str(e))

    lp = param.LoadParm()
    try:
        if args.config:
            lp.load(args.config)
        else:
            lp.load_default()
    except Exception as e:
        if args.config:
            fail("internal", "cannot load %s: %s" % (args.config, e))

    conn, account = connect(args, lp, srvsvc, credentials)
    try:
        if args.command == "sessions":
            emit(sessions(conn, args.server, srvsvc))
        elif args.command == "files":
            emit(files(conn, args.server, args.arguments[0], srvsvc))
        elif args.command == "close-session":
            client, user = args.arguments
            conn.NetSessDel(unc(args.server), unc(client.lstrip("\\")), user)
            emit({"ok": True})
        else:
            try:
                fid = int(args.arguments[0], 10)
            except ValueError:
                fail("usage", "the file id is not a number")
            if not 0 <= fid <= 0xFFFFFFFF:
                fail("usage", "the file id is out of range")
            conn.NetFileClose(unc(args.server), fid)
            emit({"ok": True})
    except samba.WERRORError as e:
        fail("werror", text(e.args[1]) if len(e.args) > 1 else "", code=e.args[0] if e.args else 0,
             name=text(e.args[1]) if len(e.args) > 1 else "", account=account or "")
    except samba.NTSTATUSError as e:
        code = e.args[0] if e.args else 0
        fail("ntstatus", text(e.args[1]) if len(e.args) > 1 else "", code=code, name=status_name(code),
             account=account or "")


if __name__ == "__main__":
    try:
        main()
    except SystemExit:
        raise
    except Exception as e:  # keep the answer one JSON document, whatever went wrong
        fail("internal", "%s: %s" % (type(e).__name__, e))
