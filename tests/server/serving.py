"""What the test servers share: the command-line options of a local server
and its start (port file, pid file, optional daemon)."""
import os
import sys


def add_server_options(parser):
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--pid-file")
    parser.add_argument("--daemon", action="store_true")


def serve(server, args):
    """Detaches when asked, tells its pid and port (the port file appears whole), and serves."""
    if args.daemon and os.fork() > 0:
        os._exit(0)
    if args.pid_file:
        with open(args.pid_file, "w") as f:
            f.write(str(os.getpid()))
    with open(args.port_file + ".tmp", "w") as f:
        f.write(str(server.server_address[1]))
    os.replace(args.port_file + ".tmp", args.port_file)
    if args.daemon:
        sys.stdin.close()
        devnull = os.open(os.devnull, os.O_RDWR)
        for fd in (0, 1, 2):
            os.dup2(devnull, fd)
    server.serve_forever()
