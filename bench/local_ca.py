"""A certificate authority made for one benchmark run, and a server certificate from it
for the five price hosts. EC P-256 keys: cheap handshakes on both sides alike."""

import os
import subprocess


def _openssl(*arguments, cwd):
    subprocess.run(["openssl", *arguments], cwd=cwd, check=True, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL)


def make(directory, hosts):
    """Writes ca.pem, server.pem and server-key.pem into `directory`; returns their paths."""
    os.makedirs(directory, exist_ok=True)
    _openssl("req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
             "-nodes", "-keyout", "ca-key.pem", "-out", "ca.pem", "-days", "2",
             "-subj", "/CN=Brimwell bench CA", "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign", cwd=directory)
    _openssl("req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
             "-keyout", "server-key.pem", "-out", "server.csr", "-subj", f"/CN={hosts[0]}",
             cwd=directory)
    with open(os.path.join(directory, "server.ext"), "w") as extensions:
        extensions.write("subjectAltName=" + ",".join(f"DNS:{host}" for host in hosts) + "\n"
                         "basicConstraints=CA:FALSE\n"
                         "extendedKeyUsage=serverAuth\n")
    _openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca-key.pem",
             "-CAcreateserial", "-out", "server.pem", "-days", "2", "-extfile", "server.ext",
             cwd=directory)
    return tuple(os.path.join(directory, name) for name in ("ca.pem", "server.pem",
                                                            "server-key.pem"))
