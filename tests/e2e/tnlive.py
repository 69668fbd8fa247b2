"""The installed trawlnest daemon for end-to-end tests, and a small SOAP caller.

`Daemon` runs PREFIX/bin/trawlnestd (from `cmake --install`) with DEPLOYDIR = the installed
PREFIX/lib/trawlnest, so siftvault, millhand, the WSDL and the portal all come from the
install layout. Its configuration, environment store and DATADIR live in a scratch folder;
it listens on 127.0.0.1 on a free port. start() waits for systemd's READY=1 and the port;
stop() sends SIGTERM and waits (SIGKILL only after a grace period).
"""

import base64
import hashlib
import os
import signal
import socket
import subprocess
import time
import urllib.error
import urllib.request
import xml.etree.ElementTree as ET

NS = "http://trawlnest.lumbrake.net/search/"
ENV = "http://schemas.xmlsoap.org/soap/envelope/"
ENC = "http://schemas.xmlsoap.org/soap/encoding/"
XSI = "http://www.w3.org/2001/XMLSchema-instance"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def start_nginx(work, port, http, connections=64):
    """nginx in the foreground with its files in `work`; `http` holds the http block's own
    lines (logs, types, servers). Returns the process once `port` answers."""
    conf = os.path.join(work, "nginx.conf")
    with open(conf, "w") as f:
        f.write("""daemon off;
master_process off;
pid {w}/nginx.pid;
error_log {w}/error.log;
events {{ worker_connections {c}; }}
http {{
  client_body_temp_path {w}/body; proxy_temp_path {w}/proxy; fastcgi_temp_path {w}/fastcgi;
  uwsgi_temp_path {w}/uwsgi; scgi_temp_path {w}/scgi;
{http}}}
""".format(w=work, c=connections, http=http))
    proc = subprocess.Popen(["/usr/sbin/nginx", "-c", conf, "-p", work],
                            stdout=subprocess.DEVNULL, stderr=subprocess.STDOUT)
    for _ in range(100):
        if port_answers(port):
            return proc
        if proc.poll() is not None:
            break
        time.sleep(0.1)
    with open(os.path.join(work, "error.log")) as f:
        raise RuntimeError("nginx did not start: " + f.read())


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


# Redirects are answers to check, not to follow.
_opener = urllib.request.build_opener(_NoRedirect)


class Daemon:
    def __init__(self, prefix, root, user="admin", password="e2e-secret", extra=""):
        self.prefix = os.path.abspath(prefix)
        self.root = os.path.abspath(root)
        self.user = user
        self.password = password
        self.extra = extra
        self.port = free_port()
        self.proc = None
        os.makedirs(self.root, exist_ok=True)
        self.data = os.path.join(self.root, "data")
        self.conf = os.path.join(self.root, "trawlnest.conf")
        self.envstore = os.path.join(self.root, "environment")

    @property
    def base(self):
        return "http://127.0.0.1:%d" % self.port

    @property
    def endpoint(self):
        return "http://%s:%s@127.0.0.1:%d/soap" % (self.user, self.password, self.port)

    def start(self, timeout=60):
        md5 = hashlib.md5(self.password.encode()).hexdigest()
        with open(self.conf, "w") as f:
            f.write("DATADIR=%s\nDEPLOYDIR=%s/lib/trawlnest\nHTTP_PORT=127.0.0.1:%d\n"
                    "HTTP_USER=%s\nHTTP_MD5PASS=%s\nWORKERS=2\nThrottling=0\n"
                    "LOGCFG=LOG:INFO\nFlushLatency=1\n%s"
                    % (self.data, self.prefix, self.port, self.user, md5, self.extra))
        with open(self.envstore, "w") as f:
            f.write("LUMBRAKE_CONFIG_FILE=%s\n" % self.conf)
        notify = os.path.join(self.root, "notify.sock")
        if os.path.exists(notify):
            os.unlink(notify)
        ns = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        ns.bind(notify)
        ns.settimeout(0.2)
        env = {"PATH": "/usr/bin:/bin", "LUMBRAKE_ENV_STORE": self.envstore,
               "NOTIFY_SOCKET": notify}
        out = open(os.path.join(self.root, "daemon.out"), "ab")
        self.proc = subprocess.Popen([os.path.join(self.prefix, "bin", "trawlnestd")], env=env,
                                     stdout=out, stderr=subprocess.STDOUT)
        deadline = time.time() + timeout
        ready = False
        try:
            while time.time() < deadline:
                if self.proc.poll() is not None:
                    raise RuntimeError("trawlnestd ended with %s during start:\n%s"
                                       % (self.proc.returncode, self.log_tail()))
                try:
                    if b"READY=1" in ns.recv(4096):
                        ready = True
                except socket.timeout:
                    pass
                if ready and port_answers(self.port):
                    return
            raise RuntimeError("trawlnestd did not become ready:\n" + self.log_tail())
        finally:
            ns.close()

    def stop(self, grace=60):
        if not self.proc or self.proc.poll() is not None:
            return self.proc.returncode if self.proc else None
        self.proc.send_signal(signal.SIGTERM)
        try:
            return self.proc.wait(grace)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            raise RuntimeError("trawlnestd did not stop within %d s" % grace)

    def log_tail(self, lines=40):
        text = ""
        for name in (os.path.join(self.root, "daemon.out"),
                     os.path.join(self.data, "trawlnest.log")):
            try:
                with open(name, errors="replace") as f:
                    text += "--- %s\n%s" % (name, "".join(f.readlines()[-lines:]))
            except OSError:
                pass
        return text

    # --- HTTP and SOAP ---------------------------------------------------------------------

    def http(self, path, auth=False, data=None, headers=None, timeout=30):
        """(status, headers, body) of one request; body as bytes."""
        req = urllib.request.Request(self.base + path, data=data, headers=headers or {})
        if auth:
            token = base64.b64encode(("%s:%s" % (self.user, self.password)).encode()).decode()
            req.add_header("Authorization", "Basic " + token)
        try:
            with _opener.open(req, timeout=timeout) as r:
                return r.status, dict(r.headers), r.read()
        except urllib.error.HTTPError as e:
            return e.code, dict(e.headers), e.read()

    def soap(self, method, params="", auth=True):
        """Calls one method with params (encoded XML text); answers the response element or
        raises SoapFault."""
        envelope = ('<?xml version="1.0" encoding="UTF-8"?>'
                    '<SOAP-ENV:Envelope xmlns:SOAP-ENV="%s" xmlns:SOAP-ENC="%s" xmlns:xsi="%s"'
                    ' xmlns:xsd="http://www.w3.org/2001/XMLSchema" xmlns:ns="%s"'
                    ' SOAP-ENV:encodingStyle="%s"><SOAP-ENV:Body><ns:%s>%s</ns:%s>'
                    '</SOAP-ENV:Body></SOAP-ENV:Envelope>'
                    % (ENV, ENC, XSI, NS, ENC, method, params, method))
        status, _, body = self.http("/soap", auth=auth, data=envelope.encode(),
                                    headers={"Content-Type": "text/xml; charset=utf-8",
                                             "SOAPAction": '"%s#%s"' % (NS, method)})
        try:
            root = ET.fromstring(body)
        except ET.ParseError:
            raise SoapFault("HTTP %d: %r" % (status, body[:200]))
        fault = root.find(".//{%s}Fault" % ENV)
        if fault is not None:
            raise SoapFault(fault.findtext("faultstring") or "fault")
        return root.find("{%s}Body" % ENV)[0]


class SoapFault(Exception):
    pass


def processes():
    """Every process of the machine: pid -> (parent pid, command name, CPU seconds of user and
    system time), read from /proc."""
    tick = os.sysconf("SC_CLK_TCK")
    found = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                line = f.read()
        except OSError:
            continue
        name = line[line.index("(") + 1:line.rindex(")")]
        fields = line[line.rindex(")") + 2:].split()
        found[int(entry)] = (int(fields[1]), name, (int(fields[11]) + int(fields[12])) / tick)
    return found


def esc(text):
    return (str(text).replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def s(name, value):
    return '<%s xsi:type="xsd:string">%s</%s>' % (name, esc(value), name)


def i(name, value):
    return '<%s xsi:type="xsd:int">%d</%s>' % (name, value, name)


def b(name, value):
    return '<%s xsi:type="xsd:boolean">%s</%s>' % (name, "true" if value else "false", name)


def strings(name, values):
    return ('<%s xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="xsd:string[%d]">%s</%s>'
            % (name, len(values), "".join("<item>%s</item>" % esc(v) for v in values), name))


def ints(name, values):
    return ('<%s xsi:type="SOAP-ENC:Array" SOAP-ENC:arrayType="xsd:int[%d]">%s</%s>'
            % (name, len(values), "".join("<item>%d</item>" % v for v in values), name))


def text(elem, path):
    found = elem.find(path)
    return None if found is None else (found.text or "")


def add_index(d, name, seeds, include_filters, historicize=False):
    """AddIndex: an archive and its source, scheduling off, no limits; the archive's id."""
    return int(text(d.soap("AddIndex", '<cfg xsi:type="ns:IndexConfiguration">%s</cfg>' % "".join([
        s("Name", name), b("Historicize", historicize), s("AdministrativeContact", ""),
        strings("Seeds", seeds), strings("IncludeFilters", include_filters),
        s("SchedulingFrequency", "DISABLED"), i("SchedulingAttribute", 0), i("AccessTime", 0),
        i("PagesLimit", 0), i("DepthLimit", 0), i("GarbageLimit", 0)])), "id"))
