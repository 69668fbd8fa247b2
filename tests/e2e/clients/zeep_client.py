#!/usr/bin/python3
"""A client of the trawlnest service built by zeep from the service description alone.

usage: zeep_client.py WSDL_URL USER PASSWORD NAME SEED_FOLDER_URL WORD
Prints one line per step; the test compares them.
"""
import os
import re
import sys
import time

import requests
import zeep
from zeep.plugins import Plugin
from zeep.transports import Transport

wsdl_url, user, password, name, seed, word = sys.argv[1:7]

ENC = "http://schemas.xmlsoap.org/soap/encoding/"
XSI_TYPE = "{http://www.w3.org/2001/XMLSchema-instance}type"


class OfflineTransport(Transport):
    """The description imports the SOAP encoding schema by its namespace alone; that standard
    schema comes from this folder, so nothing leaves 127.0.0.1."""

    def load(self, url):
        if url.rstrip("/") == ENC.rstrip("/"):
            with open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                   "soap-encoding.xsd"), "rb") as f:
                return f.read()
        return super().load(url)


class DeclaredArrays(Plugin):
    """A list arrives typed as the generic SOAP-ENC:Array; zeep would then read its items as
    untyped elements. Without that type zeep reads each list by the array type that the
    description declares for it, items included."""

    def ingress(self, envelope, http_headers, operation):
        for elem in envelope.iter():
            value = elem.get(XSI_TYPE)
            if value and value.split(":")[-1] == "Array" and \
                    elem.nsmap.get(value.split(":")[0]) == ENC:
                del elem.attrib[XSI_TYPE]
        return envelope, http_headers


session = requests.Session()
session.auth = (user, password)
client = zeep.Client(wsdl_url, transport=OfflineTransport(session=session),
                     plugins=[DeclaredArrays()])
svc = client.service


def items(array):
    """The items of a declared array value (None when the list was left out)."""
    return list(array) if array is not None else []


folder = re.sub(r"([$()*+.?\[\\\]^{|}])", r"\\\1", seed)
source = svc.AddSource(cfg={
    "Name": name, "Description": "made by zeep", "Seeds": [seed],
    "IncludeFilters": ["^" + folder + ".*$"], "CheckRobotsTxt": False,
    "HasSideMetadata": False, "DepthLimit": 0, "Type": "AUTH_NONE",
    "CookieParams": {"Url": "", "Action": "GET", "Freshness": 0}})
print("source %d %s magic %d" % (source.Source, source.Configuration.Type, source.Magic))

archive = svc.AddArchive(cfg={
    "Name": name, "Historicize": False, "AdministrativeContact": "", "Source": source.Source,
    "Auth": 0, "SchedulingFrequency": "DISABLED", "SchedulingAttribute": 0, "AccessTime": 0,
    "PagesLimit": 0, "GarbageLimit": 0})
arcid = archive.Archive
print("archive %d %s magic %d" % (arcid, archive.Configuration.SchedulingFrequency,
                                  archive.Magic))

info = svc.StartCrawl(arcid=arcid)
for _ in range(240):
    if not info.Crawling:
        break
    time.sleep(0.25)
    info = svc.GetArchiveInfo(id=arcid)
print("crawled documents %d" % info.Documents)

status = svc.GetStatus()
rows = items(status.extendedstatus)
print("status %s rows %d %s" % (status.status, len(rows), rows[0].Key))

for kind in ("Source", "Archive", "Collection", "Watch", "Index"):
    infos = items(getattr(svc, "Enum%sConfigurations" % kind)())
    own = [x for x in infos
           if (x.Configuration.Name if kind != "Index" else x.Name) == name]
    print("enum %s %d own %d" % (kind, len(infos), len(own)))

found = svc.Query(query={
    "Archives": [arcid], "FirstDoc": 0, "LastDoc": 9, "MinTime": 0, "MaxTime": 0,
    "Info": "INFO_CONTEXT", "View": "VIEW_PUBLISHED", "Sort": "SORT_STANDARD",
    "Parser": "NETPARSER", "QueryString": word})
print("search %d %s" % (found.maxresults, " ".join(r.Url for r in items(found.results))))
