#!/usr/bin/python3
"""FTP server for the fetcher tests: serves ROOT read-only to anonymous users and to USER
with PASSWORD (when given) on 127.0.0.1, on a port the system chooses. Prints the port on
standard output and serves until it is terminated."""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root = sys.argv[1]
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)
    if len(sys.argv) > 3:
        authorizer.add_user(sys.argv[2], sys.argv[3], root, perm="elr")
    handler = FTPHandler
    handler.authorizer = authorizer
    handler.passive_ports = None
    # Refused log-ins answer at once instead of after the usual pause.
    handler.auth_failed_timeout = 0
    logging.basicConfig(level=logging.ERROR)
    server = FTPServer(("127.0.0.1", 0), handler)
    print(server.address[1], flush=True)
    server.serve_forever(timeout=0.5)


if __name__ == "__main__":
    main()
