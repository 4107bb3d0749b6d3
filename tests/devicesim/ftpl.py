"""Drives the FTP server with Python's ftplib in active mode.

usage: ftpl.py PORT OP...   with OP one of
  login:USER:PASS      raw:COMMAND          list:COMMAND (lines as "| line")
  rawlist:COMMAND      (the listing bytes, repr)
  get:REMOTE           (prints "GOT n")     put:REMOTE:LOCALFILE
  putascii:REMOTE:LOCALFILE, getascii:REMOTE:LOCALFILE  (TYPE A, raw bytes)
Every failure prints "ERR <server reply>" and the script goes on.
"""
import ftplib
import sys

ftp = ftplib.FTP()
ftp.connect("127.0.0.1", int(sys.argv[1]), timeout=20)
ftp.set_pasv(False)
print("WELCOME " + ftp.getwelcome())
for op in sys.argv[2:]:
    kind, _, rest = op.partition(":")
    try:
        if kind == "login":
            user, _, password = rest.partition(":")
            print(ftp.login(user, password))
        elif kind == "raw":
            print(ftp.sendcmd(rest))
        elif kind == "list":
            lines = []
            resp = ftp.retrlines(rest, lines.append)
            for line in lines:
                print("| " + line)
            print(resp)
        elif kind == "rawlist":
            chunks = []
            ftp.voidcmd("TYPE A")
            with ftp.transfercmd(rest) as conn:
                while True:
                    block = conn.recv(4096)
                    if not block:
                        break
                    chunks.append(block)
            print(repr(b"".join(chunks)))
            print(ftp.voidresp())
        elif kind == "get":
            got = []
            try:
                resp = ftp.retrbinary("RETR " + rest, got.append)
                print("GOT %d" % sum(len(b) for b in got))
                print(resp)
            except ftplib.all_errors:
                print("GOT %d" % sum(len(b) for b in got))
                raise
        elif kind == "putascii":  # TYPE A on the wire, bytes sent as they are
            remote, _, local = rest.partition(":")
            ftp.voidcmd("TYPE A")
            with open(local, "rb") as f, ftp.transfercmd("STOR " + remote) as conn:
                conn.sendall(f.read())
            print(ftp.voidresp())
        elif kind == "getascii":
            remote, _, local = rest.partition(":")
            ftp.voidcmd("TYPE A")
            with open(local, "wb") as f, ftp.transfercmd("RETR " + remote) as conn:
                while True:
                    block = conn.recv(65536)
                    if not block:
                        break
                    f.write(block)
            print(ftp.voidresp())
        elif kind == "put":
            remote, _, local = rest.partition(":")
            with open(local, "rb") as f:
                print(ftp.storbinary("STOR " + remote, f))
        else:
            print("ERR unknown op " + op)
    except ftplib.all_errors as e:
        print("ERR %s" % e)
try:
    ftp.quit()
except ftplib.all_errors:
    ftp.close()
