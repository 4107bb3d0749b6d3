"""Drives the FTP server with Python's ftplib in active mode.

usage: ftpl.py PORT OP...   with OP one of
  login:USER:PASS      raw:COMMAND          list:COMMAND (lines as "| line")
  rawlist:COMMAND      (the listing bytes, repr)
  get:REMOTE           (prints "GOT n")     put:REMOTE:LOCALFILE
  putascii:REMOTE:LOCALFILE, getascii:REMOTE:LOCALFILE  (TYPE A, raw bytes)
  holdstor:REMOTE:COMMAND  an upload whose data connection stays open and idle
                       while a second connection, logged in as the last login
                       op, runs the listing COMMAND ("OTHER ..." lines); then
                       the upload sends 4 bytes and ends
Every failure prints "ERR <server reply>" and the script goes on.
"""
import ftplib
import sys

port = int(sys.argv[1])
credentials = ("", "")
ftp = ftplib.FTP()
ftp.connect("127.0.0.1", port, timeout=20)
ftp.set_pasv(False)
print("WELCOME " + ftp.getwelcome())
for op in sys.argv[2:]:
    kind, _, rest = op.partition(":")
    try:
        if kind == "login":
            user, _, password = rest.partition(":")
            credentials = (user, password)
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
        elif kind == "holdstor":
            remote, _, command = rest.partition(":")
            with ftp.transfercmd("STOR " + remote) as conn:
                other = ftplib.FTP()
                other.connect("127.0.0.1", port, timeout=20)
                other.set_pasv(False)
                other.login(*credentials)
                try:
                    print("OTHER " + other.retrlines(command, lambda line: None))
                except ftplib.all_errors as e:
                    print("OTHER ERR %s" % e)
                other.quit()
                conn.sendall(b"held")
            print(ftp.voidresp())
        else:
            print("ERR unknown op " + op)
    except ftplib.all_errors as e:
        print("ERR %s" % e)
try:
    ftp.quit()
except ftplib.all_errors:
    ftp.close()
