#!/usr/bin/env python3
"""Trawlex behind a real web server, end to end over HTTP.

Usage: run-server-tests.py lighttpd|apache|nginx PATH-OF-trawlex.exe

Lays out a temporary site (SITE/ with pages, SITE/cgi-bin/trawlex.exe and its srchdata/
folder), writes a configuration for the server from the template beside this file, starts
the server in the foreground on a free loopback port (nginx together with fcgiwrap
processes on unix sockets), runs the checks over HTTP and stops everything it started,
also on failure.

Exit status: 0 all checks passed, 1 a check failed, 77 the server is not installed
("SKIP: ..." is printed first).

Privileges: Apache refuses to serve requests as root, and Debian's packages run all three
servers' workers as www-data. When this runner is root it does the same for every server:
nginx gets a user directive and Apache its User/Group, while lighttpd (which needs no root
for a loopback port above 1024) and fcgiwrap are started as www-data right away. The site
is made readable for everybody and its srchdata/logs/ folder is given to www-data, so the
program can append its query log. As another user, the servers and the program simply
keep that user.
"""

import concurrent.futures
import ctypes
import http.client
import io
import os
import pwd
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SKIP = 77
WORKER_USER = "www-data"

BINARIES = {
    "lighttpd": ["/usr/sbin/lighttpd"],
    "apache": ["/usr/sbin/apache2", "/usr/lib/apache2/modules/mod_cgi.so"],
    "nginx": ["/usr/sbin/nginx", "/usr/sbin/fcgiwrap"],
}

# Safety bounds only: no check measures time. A request that is still unanswered after
# REQUEST_TIMEOUT seconds has hung, and the check fails instead of the run hanging.
REQUEST_TIMEOUT = 60
START_TIMEOUT = 20
SHORT_BODY_WAIT = 5
FCGIWRAP_PROCESSES = 4

HEADER_MARK = b"<!-- site header -->"
FOOTER_MARK = b"<!-- site footer -->"
TRAVERSAL_MARK = b"TEMPLATE-OUTSIDE-SRCHDATA"
WORD = "harbour"
ERROR_NO_PARAMETERS = b"Unable to locate any paramters!<BR>\n"
ERROR_TOO_LONG = b"CGI response too long!<BR>\n"
REFUSED = b"A search could not be performed because one or more of the search words"
NO_MATCH = b"Unable to find any Web pages matching your query...<BR>"

RESULT = re.compile(rb'<LI class="hit" data-match="(\d+)"><A HREF="([^"]*)">([^<]*)</A>')
COMPACT_RESULT = re.compile(rb'<P class="compact">(\d+)\. ([^<]*)</P>')
PAGING_ROW = re.compile(rb"Result Pages:&nbsp;(.*?)(?:<BR><BR><FONT size=-1>|$)", re.S)
PAGING_LINK = re.compile(rb'<A HREF="/cgi-bin/trawlex\.exe\?([^"]*)">(.*?)</A>')
BOLD_PAGE = re.compile(rb"<B>(\d+)</B>&nbsp;")
SEARCH_TIME = re.compile(rb"files searched in [0-9]+\.[0-9]{2} secs")
LOG_LINE = re.compile(rb"^127\.0\.0\.1 [0-9A-F]{8} \(\d+, \d+\) [^\x00-\x1f]*$")
LOG_NAME = re.compile(r"^(0[1-9]|1[0-2])(0[1-9]|[12][0-9]|3[01])[0-9]{4}\.log$")


class CheckFailed(Exception):
    pass


def expect(condition, message):
    if not condition:
        raise CheckFailed(message)


# ---------------------------------------------------------------------------------------
# The site

# Pages that hold the search word: (path below SITE, title, how often the word occurs).
# Eleven of them give six result pages at Count=2.
MATCHING = [
    ("index.htm", "Welcome to the harbour town", 2),
    ("ferries.htm", "Ferries and timetables", 7),
    ("fishing.htm", "Fishing boats at the quay", 4),
    ("history.html", "A short history", 1),
    ("lighthouse.htm", "The lighthouse", 5),
    ("market.htm", "Fish market", 3),
    ("docs/moorings.htm", "Moorings and fees", 9),
    ("docs/pilots.htm", "Pilot service", 6),
    ("docs/tides.htm", "Tide tables", 8),
    ("docs/archive/1890.htm", "The storm of 1890", 10),
    ("docs/archive/wrecks.htm", "Wrecks off the coast", 11),
]
NOT_MATCHING = [
    ("contact.htm", "Contact us"),
    ("docs/weather.htm", "Weather"),
    ("docs/archive/mayors.htm", "Mayors of the town"),
]
# Held out of every result: an excluded folder, a file type that is not configured and a
# page below cgi-bin (it is also the target of the Look traversal check).
HIDDEN_FROM_SEARCH = [
    ("private/staff.htm", "Staff harbour notes"),
    ("notes.txt", "harbour notes in plain text"),
]

FILLER = ("quay tide pier boat sail rope net gull crane dock buoy anchor wharf "
          "lantern cargo keel").split()


def page_html(title, word_count, index):
    words = []
    for n in range(120):
        words.append(FILLER[(n * 7 + index) % len(FILLER)])
        if n % 10 == 3 and word_count > 0:
            words.append(WORD)
            word_count -= 1
    words.extend([WORD] * word_count)
    return ("<HTML><HEAD><TITLE>%s</TITLE>\n"
            '<META name="description" content="Page %d of the test site">\n'
            "</HEAD><BODY><H1>%s</H1><P>%s</P></BODY></HTML>\n"
            % (title, index, title, " ".join(words)))


def write(path, content, mode=0o644):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    data = content.encode() if isinstance(content, str) else content
    with open(path, "wb") as handle:
        handle.write(data)
    os.chmod(path, mode)


BODY_TEMPLATE = ('<LI class="hit" data-match="&Search.Match;">'
                 '<A HREF="&Search.BaseURL;&Search.URL;">&Search.Title;</A>'
                 " &Search.Percent; &Search.Size; &Search.Modified;</LI>\n")


def build_site(site, program):
    for index, (path, title, count) in enumerate(MATCHING):
        write(os.path.join(site, path), page_html(title, count, index))
    for index, (path, title) in enumerate(NOT_MATCHING + HIDDEN_FROM_SEARCH):
        write(os.path.join(site, path), page_html(title, 0, index))
    cgi_bin = os.path.join(site, "cgi-bin")
    os.makedirs(cgi_bin, exist_ok=True)
    shutil.copyfile(program, os.path.join(cgi_bin, "trawlex.exe"))
    os.chmod(os.path.join(cgi_bin, "trawlex.exe"), 0o755)
    data = os.path.join(cgi_bin, "srchdata")
    write(os.path.join(data, "config.txt"),
          "# Test site: the search path is the folder above cgi-bin.\n"
          "BASEURL /\nFILESPEC .htm\nFILESPEC .html\nEXCLUDEPATH /private/\n")
    write(os.path.join(data, "header.htm"),
          "<HTML><HEAD><TITLE>Search</TITLE></HEAD><BODY>\n%s\n" % HEADER_MARK.decode())
    write(os.path.join(data, "footer.htm"), "%s\n</BODY></HTML>\n" % FOOTER_MARK.decode())
    write(os.path.join(data, "body.htm"), BODY_TEMPLATE)
    write(os.path.join(data, "bodyCompact.htm"),
          '<P class="compact">&Search.Match;. &Search.Title;</P>\n')
    # Each result of this look carries 200 KB, so that a page of all results is far
    # larger than what the sockets and pipes between program and client can hold.
    write(os.path.join(data, "bodyBig.htm"),
          BODY_TEMPLATE + "<!-- " + "padding " * 25000 + "-->\n")
    # A Look of ../../etc/x would name srchdata/body../../etc/x.htm; with a folder
    # "body.." present that path exists (srchdata/etc/x.htm) and must still not be used.
    os.makedirs(os.path.join(data, "body.."), exist_ok=True)
    write(os.path.join(data, "etc/x.htm"),
          "<P>%s %s</P>\n" % (TRAVERSAL_MARK.decode(), WORD))
    os.makedirs(os.path.join(data, "logs"), exist_ok=True)


def open_site_to_worker(work, site, run_folder):
    """Lets the servers' worker user read the site and write the query log, and the
    server write its own logs and temporary files (lighttpd opens its error log only
    after it has become that user)."""
    for folder, folders, files in os.walk(work):
        os.chmod(folder, 0o755)
        for name in files:
            path = os.path.join(folder, name)
            os.chmod(path, os.stat(path).st_mode | 0o444)
    if os.geteuid() == 0:
        worker = pwd.getpwnam(WORKER_USER)
        for folder in [os.path.join(site, "cgi-bin/srchdata/logs"), run_folder]:
            os.chown(folder, worker.pw_uid, worker.pw_gid)


# ---------------------------------------------------------------------------------------
# Servers

def free_port():
    with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def _die_with_runner():
    # A runner killed from outside (a test time-out) must not leave servers behind.
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


class Processes:
    """Processes that this runner started, each leading its own process group."""

    def __init__(self):
        self.started = []

    def start(self, name, command, log_path, **options):
        log = open(log_path, "ab")
        process = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   start_new_session=True, preexec_fn=_die_with_runner,
                                   **options)
        log.close()
        self.started.append((name, process))
        return process

    def stop_all(self):
        # Servers stop their workers (and the programs those run) on SIGTERM; the group
        # is each started process's own id, so nothing else is touched.
        for name, process in reversed(self.started):
            if process.poll() is None:
                try:
                    os.killpg(process.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
            try:
                process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                print("%s did not stop on SIGTERM; killing it" % name)
                try:
                    os.killpg(process.pid, signal.SIGKILL)
                except ProcessLookupError:
                    pass
                process.wait(timeout=15)
            try:  # workers left in the group once the leader has gone
                os.killpg(process.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
        self.started = []


def fill_template(name, values):
    with open(os.path.join(HERE, name)) as handle:
        text = handle.read()
    for key, value in values.items():
        text = text.replace("@%s@" % key, value)
    left = re.search(r"@[A-Z_]+@", text)
    expect(left is None, "%s: %s not filled in" % (name, left and left.group(0)))
    return text


def user_lines(server):
    if os.geteuid() != 0:
        return ""
    return {
        "lighttpd": "",
        "apache": "User %s\nGroup %s" % (WORKER_USER, WORKER_USER),
        "nginx": "user %s %s;" % (WORKER_USER, WORKER_USER),
    }[server]


def as_worker():
    """Popen options that start a process as the worker user (when this runner is root).
    The switch happens before the process runs, so its parent-death signal stays set;
    a server that switched users itself would lose it."""
    if os.geteuid() != 0:
        return {}
    worker = pwd.getpwnam(WORKER_USER)
    return {"user": worker.pw_uid, "group": worker.pw_gid, "extra_groups": []}


def wait_until(condition, timeout, what):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return
        time.sleep(0.1)
    raise CheckFailed("gave up waiting for " + what)


def port_answers(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=1):
            return True
    except OSError:
        return False


def start_server(server, site, run, processes):
    """Starts the server; returns its port. A port taken meanwhile gives another try."""
    for attempt in range(3):
        port = free_port()
        sockets = [os.path.join(run, "fcgiwrap/socket%d" % n) for n in range(FCGIWRAP_PROCESSES)]
        values = {"SITE": site, "RUN": run, "PORT": str(port), "USER_LINES": user_lines(server),
                  "FCGIWRAP_SERVERS": "".join("    server unix:%s;\n" % path for path in sockets)}
        conf = os.path.join(run, server + ".conf")
        with open(conf, "w") as handle:
            handle.write(fill_template(server + ".conf.in", values))
        os.chmod(conf, 0o644)
        out = os.path.join(run, "server.out")
        if server == "lighttpd":
            main = processes.start(server, ["/usr/sbin/lighttpd", "-D", "-f", conf], out,
                                   **as_worker())
        elif server == "apache":
            main = processes.start(server, ["/usr/sbin/apache2", "-f", conf, "-D", "FOREGROUND"], out)
        else:
            if attempt == 0:
                for path in sockets:
                    start_fcgiwrap(run, path, processes)
            main = processes.start(server, ["/usr/sbin/nginx", "-p", run + "/", "-c", conf,
                                            "-e", os.path.join(run, "error.log"),
                                            "-g", "daemon off;"], out)
        deadline = time.monotonic() + START_TIMEOUT
        while time.monotonic() < deadline and main.poll() is None and not port_answers(port):
            time.sleep(0.1)
        if main.poll() is None and port_answers(port):
            return port
        if main.poll() is None:
            raise CheckFailed("%s did not open port %d" % (server, port))
        processes.started = [(n, p) for n, p in processes.started if p is not main]
        print("%s exited at start (attempt %d), trying another port" % (server, attempt + 1))
    raise CheckFailed("%s would not start" % server)


def start_fcgiwrap(run, socket_path, processes):
    folder = os.path.dirname(socket_path)
    os.makedirs(folder, exist_ok=True)
    if os.geteuid() == 0:
        worker = pwd.getpwnam(WORKER_USER)
        os.chown(folder, worker.pw_uid, worker.pw_gid)
    # Without -c, so that there are no forked children, which would outlive a runner that
    # was killed: each process gets its own socket instead.
    wrapper = processes.start("fcgiwrap", ["/usr/sbin/fcgiwrap", "-s", "unix:" + socket_path],
                              os.path.join(run, "fcgiwrap.out"), cwd=folder, **as_worker())
    wait_until(lambda: os.path.exists(socket_path) or wrapper.poll() is not None,
               START_TIMEOUT, "the fcgiwrap socket")
    expect(wrapper.poll() is None, "fcgiwrap exited at start")


# ---------------------------------------------------------------------------------------
# HTTP

class Response:
    def __init__(self, status, content_type, body):
        self.status = status
        self.content_type = content_type
        self.body = body


class Client:
    def __init__(self, port):
        self.port = port

    def request(self, method, target, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=REQUEST_TIMEOUT)
        try:
            connection.request(method, target, body=body, headers=headers or {})
            answer = connection.getresponse()
            return Response(answer.status, answer.getheader("Content-Type", ""), answer.read())
        finally:
            connection.close()

    def get(self, query=None):
        return self.request("GET", "/cgi-bin/trawlex.exe" + ("" if query is None else "?" + query))

    def post(self, body):
        return self.request("POST", "/cgi-bin/trawlex.exe", body=body.encode(),
                            headers={"Content-Type": "application/x-www-form-urlencoded"})

    def raw(self, data, half_close=False, wait=REQUEST_TIMEOUT):
        """Sends bytes as they are; returns (what came back, how the exchange ended)."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=wait) as connection:
            connection.sendall(data)
            if half_close:
                connection.shutdown(socket.SHUT_WR)
            received = b""
            try:
                while len(received) < 64 * 1024 * 1024:
                    chunk = connection.recv(65536)
                    if not chunk:
                        return received, "closed"
                    received += chunk
            except socket.timeout:
                return received, "timed out"
            except ConnectionResetError:
                return received, "reset"
        return received, "too long"


def parse_response(raw):
    """A response read off a raw socket, or None when no whole response came back."""
    class Received:
        def makefile(self, *_):
            return io.BytesIO(raw)
    answer = http.client.HTTPResponse(Received())
    try:
        answer.begin()
        return Response(answer.status, answer.getheader("Content-Type", ""), answer.read())
    except (http.client.HTTPException, ValueError):
        return None


def page_ok(response, what):
    expect(response.status == 200, "%s: status %d" % (what, response.status))
    expect(response.content_type.split(";")[0].strip() == "text/html",
           "%s: Content-Type %r" % (what, response.content_type))
    expect(HEADER_MARK in response.body and FOOTER_MARK in response.body,
           "%s: header or footer fragment missing" % what)
    return response.body


def results(body):
    return [(int(match), url.decode(), title.decode()) for match, url, title in RESULT.findall(body)]


def paging(body):
    """The current (bold) page number, or None, and the row's links as (query, label)."""
    row = PAGING_ROW.search(body)
    expect(row is not None, "no paging row")
    bold = BOLD_PAGE.findall(row.group(1))
    expect(len(bold) <= 1, "more than one current page in the row")
    links = [(query.decode(), label.decode()) for query, label in PAGING_LINK.findall(row.group(1))]
    return (int(bold[0]) if bold else None), links


def masked(body):
    return SEARCH_TIME.sub(b"files searched in T secs", body)


def padded_query(length):
    """Search=harbour&Count=2 padded with unknown pairs to exactly length bytes."""
    query = "Search=%s&Count=2" % WORD
    while len(query) < length:
        room = length - len(query)
        if room < 4:  # too short for another pair: widen the last one instead
            query += "y" * room
            break
        query += "&P=" + "x" * min(200, room - 3)
    expect(len(query) == length, "padding is off")
    return query


# ---------------------------------------------------------------------------------------
# The query log

def log_folder(site):
    return os.path.join(site, "cgi-bin/srchdata/logs")


def log_lines(site):
    """Every line of every day's log; a line without its line end is a failure."""
    lines = []
    for name in sorted(os.listdir(log_folder(site))):
        expect(LOG_NAME.match(name), "unexpected file in logs/: %r" % name)
        with open(os.path.join(log_folder(site), name), "rb") as handle:
            data = handle.read()
        expect(data == b"" or data.endswith(b"\n"), "%s ends in a broken line" % name)
        for line in data.split(b"\n")[:-1]:
            expect(LOG_LINE.match(line), "malformed log line %r" % line[:200])
            lines.append(line)
    return lines


def todays_log_name():
    now = time.localtime()
    return "%.2d%.2d%.4d.log" % (now.tm_mon, now.tm_mday, now.tm_year)


def programs_running(program):
    """How many processes are running the site's copy of the program."""
    count = 0
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                if os.readlink("/proc/%s/exe" % entry) == program:
                    count += 1
            except OSError:
                pass
    return count


def quiesce(site):
    """Waits until no request is still being answered by the program."""
    program = os.path.realpath(os.path.join(site, "cgi-bin/trawlex.exe"))
    wait_until(lambda: programs_running(program) == 0, REQUEST_TIMEOUT,
               "the program runs of dropped requests to end")


# ---------------------------------------------------------------------------------------
# The checks

class Run:
    def __init__(self, server, site, client):
        self.server = server
        self.site = site
        self.client = client
        self.all_results = []  # the full ranked list: (match, url, title)
        self.first_page = b""


def check_search_get_and_post(run):
    body = page_ok(run.client.get("Search=%s&Count=200" % WORD), "GET of all results")
    found = results(body)
    expect(("Found %d Web pages matching your query (returning top %d)" % (len(MATCHING), len(MATCHING))).encode() in body,
           "summary line missing or wrong")
    expect([m for m, _, _ in found] == list(range(1, len(MATCHING) + 1)),
           "results are not numbered 1 to %d: %r" % (len(MATCHING), [m for m, _, _ in found]))
    expect(sorted(url for _, url, _ in found) == sorted("/" + path for path, _, _ in MATCHING),
           "result links differ from the matching pages: %r" % [url for _, url, _ in found])
    titles = {"/" + path: title for path, title, _ in MATCHING}
    expect(all(titles[url] == title for _, url, title in found), "a result has the wrong title")
    expect(TRAVERSAL_MARK not in body, "a page under cgi-bin was searched")
    run.all_results = found

    # Every result link opens its document through the same server.
    for _, url, title in found:
        answer = run.client.request("GET", url)
        expect(answer.status == 200 and title.encode() in answer.body,
               "result link %s does not open its page (status %d)" % (url, answer.status))

    get = page_ok(run.client.get("Search=%s&Count=2" % WORD), "GET search")
    post = page_ok(run.client.post("Search=%s&Count=2" % WORD), "POST search")
    expect(results(get) == found[:2], "GET page 1 holds %r" % results(get))
    expect(masked(post) == masked(get), "POST and GET of the same search give different pages")
    run.first_page = get


def check_paging_links(run):
    size = 2
    pages = (len(run.all_results) + size - 1) // size
    visited = {}
    queue = [("Search=%s&Count=2" % WORD, 1)]
    seen_queries = set()
    while queue and len(seen_queries) < 100:
        query, expected_page = queue.pop(0)
        if query in seen_queries:
            continue
        seen_queries.add(query)
        body = page_ok(run.client.get(query), "paging link " + query)
        current, links = paging(body)
        expect(current == expected_page,
               "link %r names page %d but gives page %r" % (query, expected_page, current))
        start = (current - 1) * size
        expect(results(body) == run.all_results[start:start + size],
               "page %d holds the wrong results: %r" % (current, results(body)))
        labels = [label for _, label in links]
        numbered = sorted(int(label) for label in labels if label.isdigit())
        expect(numbered == [p for p in range(1, pages + 1) if p != current],
               "page %d links to pages %r" % (current, numbered))
        expect(("<B>&lt;&lt; Prev</B>" in labels) == (current > 1), "page %d: Prev link wrong" % current)
        expect(("<B>Next &gt;&gt;</B>" in labels) == (current < pages), "page %d: Next link wrong" % current)
        visited[current] = True
        for link_query, label in links:
            target = (int(label) if label.isdigit()
                      else current - 1 if "Prev" in label else current + 1)
            queue.append((link_query, target))
    expect(sorted(visited) == list(range(1, pages + 1)), "pages reached: %r" % sorted(visited))
    expect(pages >= 3, "too few result pages to test paging")


def check_driver_errors(run):
    rows = [
        ("empty query string", run.client.get(""), ERROR_NO_PARAMETERS),
        ("no query string", run.client.get(None), ERROR_NO_PARAMETERS),
        ("1,024-byte query string", run.client.get(padded_query(1024)), ERROR_TOO_LONG),
        ("1,024-byte POST body", run.client.post(padded_query(1024)), ERROR_TOO_LONG),
    ]
    for what, answer, text in rows:
        expect(answer.status == 200 and answer.content_type.startswith("text/html"),
               "%s: status %d, %r" % (what, answer.status, answer.content_type))
        expect(answer.body == text, "%s: answered %r" % (what, answer.body[:200]))
    for what, answer in [("1,023-byte query string", run.client.get(padded_query(1023))),
                         ("1,023-byte POST body", run.client.post(padded_query(1023)))]:
        expect(masked(page_ok(answer, what)) == masked(run.first_page),
               "%s is not answered like the search without padding" % what)


def check_concurrent_requests(run):
    before = log_lines(run.site)
    barrier = threading.Barrier(50, timeout=REQUEST_TIMEOUT)

    def one(count):
        barrier.wait()
        if count % 2:
            return count, run.client.get("Search=%s&Count=%d" % (WORD, count))
        return count, run.client.post("Search=%s&Count=%d" % (WORD, count))

    with concurrent.futures.ThreadPoolExecutor(max_workers=50) as pool:
        answers = list(pool.map(one, range(1, 51), timeout=3 * REQUEST_TIMEOUT))
    for count, answer in answers:
        body = page_ok(answer, "concurrent request %d" % count)
        expect(results(body) == run.all_results[:count],
               "concurrent request %d has %d results" % (count, len(results(body))))
    after = log_lines(run.site)
    expect(after[:len(before)] == before, "older log lines changed")
    added = after[len(before):]
    expect(len(added) == 50, "50 requests left %d log lines" % len(added))
    texts = sorted(line.split(b" ", 2)[2] for line in added)
    expect(texts == sorted(("(0, %d) %s" % (n, WORD)).encode() for n in range(1, 51)),
           "the log lines do not name the 50 requests")
    expect(todays_log_name() in os.listdir(log_folder(run.site)), "no log file for today")


def check_bad_input(run):
    """Odd requests: each answers as it should or is dropped, and the server goes on."""
    quiesce(run.site)
    before = len(log_lines(run.site))
    logged_least = logged_most = 0

    def answered_search(what, answer):
        nonlocal logged_least, logged_most
        logged_least += 1
        logged_most += 1
        return page_ok(answer, what)

    first = results(run.first_page)
    for query in ["sEaRcH=%s&cOuNt=2" % WORD, "SEARCH=%s&COUNT=2&STARTAT=0" % WORD,
                  "search=%s&count=2&lOOk=dEfAuLt&sortby=PERCENT" % WORD]:
        body = answered_search(query, run.client.get(query))
        expect(masked(body) == masked(run.first_page), "parameters in another case: %s" % query)

    for query in ["Search=%s&Count=2&Look=../../etc/x" % WORD,
                  "Search=%s&Count=2&Look=..%%2F..%%2Fetc%%2Fx" % WORD]:
        body = answered_search(query, run.client.get(query))
        expect(TRAVERSAL_MARK not in body, "Look reached a template outside srchdata: " + query)
        expect(results(body) == first, "Look outside srchdata did not fall back to body.htm")
    body = answered_search("Look=Compact", run.client.get("Search=%s&Count=2&Look=Compact" % WORD))
    expect([int(n) for n, _ in COMPACT_RESULT.findall(body)] == [1, 2] and not results(body),
           "the Compact look was not used")

    # Every byte value, percent-encoded, in each text parameter; a pair stays below
    # the decoder's 320-byte limit, so all of them are decoded. A server may refuse
    # control bytes or malformed UTF-8 in a URL itself (lighttpd does, with 400, by
    # default): then the program never runs. In a POST body every server passes them on.
    def odd_bytes(what, query, check):
        for method in ["GET", "POST"]:
            answer = run.client.get(query) if method == "GET" else run.client.post(query)
            if method == "GET" and answer.status == 400:
                continue
            check(answered_search("%s by %s" % (what, method), answer))

    # The NUL comes last: it ends the decoded text, and the control bytes before it
    # must reach the query log as blanks, not as line ends.
    every_byte = list(range(1, 256)) + [0]
    for low in range(0, 256, 64):
        encoded = "".join("%%%02X" % b for b in every_byte[low:low + 64])
        query = "Search=%s&Look=%s&SortBy=%s&Submit=%s&Count=%s" % (
            encoded, encoded, encoded, encoded[:60], encoded[:30])
        odd_bytes("bytes %d-%d" % (low, low + 63), query, lambda body: expect(
            REFUSED in body or NO_MATCH in body or b"Found " in body,
            "bytes %d-%d: no search outcome in the page" % (low, low + 63)))
    odd_bytes("a NUL after the word", "Search=%s%%00%s&Count=2" % (WORD, "%01%0A%0D%1F%7F%FF"),
              lambda body: expect(results(body) == first, "a %00 does not end the search text"))

    # A POST body longer than announced: the program reads only what was announced.
    announced = "Search=%s&Count=2" % WORD
    request = ("POST /cgi-bin/trawlex.exe HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
               "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: %d\r\n\r\n%s"
               "&Count=7&StartAt=4" % (len(announced), announced)).encode()
    answer = parse_response(run.client.raw(request)[0])
    expect(answer is not None, "a body longer than announced got no answer")
    body = answered_search("a body longer than announced", answer)
    expect(masked(body) == masked(run.first_page), "a longer body is not read as announced")

    # A POST body shorter than announced, the connection held open: the server may wait
    # for the rest, but must give up or keep serving others meanwhile.
    short = ("POST /cgi-bin/trawlex.exe HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
             "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 300\r\n\r\n"
             "Search=%s" % WORD).encode()
    received, ending = run.client.raw(short, wait=SHORT_BODY_WAIT)
    print("  short body, held open: %s, %r" % (ending, received.split(b"\r\n", 1)[0]))
    logged_most += 1
    body = answered_search("server after a held short body", run.client.get("Search=%s&Count=2" % WORD))
    expect(results(body) == first, "the server does not serve after a held short body")

    # The same with the client's sending side closed: the body can never complete.
    received, ending = run.client.raw(short, half_close=True, wait=REQUEST_TIMEOUT)
    print("  short body, half-closed: %s, %r" % (ending, received.split(b"\r\n", 1)[0]))
    expect(ending != "timed out", "a short, half-closed body was never answered nor dropped")
    logged_most += 1
    answer = parse_response(received)
    if answer is not None and answer.status == 200:
        page_ok(answer, "a short, half-closed body")

    # Clients that go away after the first part of a large page.
    for _ in range(3):
        query = "Search=%s&Count=200&Look=Big" % WORD
        target = ("GET /cgi-bin/trawlex.exe?%s HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                  "Connection: close\r\n\r\n" % query).encode()
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as connection:
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            connection.settimeout(REQUEST_TIMEOUT)
            connection.connect(("127.0.0.1", run.client.port))
            connection.sendall(target)
            received = b""
            # The header fragment follows the log line, so once it is here the request
            # has been logged, and much of the page is still to come.
            while HEADER_MARK not in received and len(received) < 1024 * 1024:
                chunk = connection.recv(4096)
                expect(chunk, "the large page ended before its header fragment")
                received += chunk
            # Linger 0: the close resets the connection, as a browser stopped mid-page does.
            connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        logged_least += 1
        logged_most += 1
        body = answered_search("after a client went away", run.client.get("Search=%s&Count=2" % WORD))
        expect(masked(body) == masked(run.first_page), "the server does not serve after a disconnect")

    quiesce(run.site)
    added = len(log_lines(run.site)) - before
    print("  bad input: %d log lines for %d to %d logged requests" % (added, logged_least, logged_most))
    expect(logged_least <= added <= logged_most,
           "bad input left %d log lines, expected %d to %d" % (added, logged_least, logged_most))


def check_logs_clean(run, run_folder):
    """No fatal report or sanitizer report reached the servers' error logs."""
    for name in os.listdir(run_folder):
        path = os.path.join(run_folder, name)
        if os.path.isfile(path) and (name.endswith(".log") or name.endswith(".out")):
            with open(path, "rb") as handle:
                text = handle.read()
            for sign in [b"Internal error...", b"AddressSanitizer", b"runtime error:",
                         b"LeakSanitizer", b"Segmentation fault"]:
                expect(sign not in text, "%s reports %r" % (name, sign.decode()))


CHECKS = [
    ("GET and POST searches", check_search_get_and_post),
    ("every paging link", check_paging_links),
    ("driver error texts and the 1,023-byte limit", check_driver_errors),
    ("50 concurrent requests and their log lines", check_concurrent_requests),
    ("bad input", check_bad_input),
]


def show_logs(run_folder):
    for name in sorted(os.listdir(run_folder)):
        path = os.path.join(run_folder, name)
        if os.path.isfile(path) and (name.endswith(".log") or name.endswith(".out")):
            with open(path, "rb") as handle:
                tail = handle.read()[-4000:]
            if tail:
                print("---- %s (end) ----\n%s" % (name, tail.decode(errors="replace")))


def main(argv):
    if len(argv) != 3 or argv[1] not in BINARIES:
        print(__doc__)
        return 2
    server, program = argv[1], os.path.abspath(argv[2])
    missing = [path for path in BINARIES[server] if not os.path.exists(path)]
    if missing:
        print("SKIP: %s is not installed (%s); scripts/install-server-deps installs it"
              % (server, ", ".join(missing)))
        return SKIP
    if not os.path.isfile(program):
        print("program not found: " + program)
        return 1

    # A test time-out or Ctrl-C still runs the clean-up below.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))
    work = tempfile.mkdtemp(prefix="trawlex-%s-" % server)
    site, run_folder = os.path.join(work, "site"), os.path.join(work, "run")
    os.makedirs(run_folder)
    processes = Processes()
    passed = failed = 0
    try:
        build_site(site, program)
        open_site_to_worker(work, site, run_folder)
        port = start_server(server, site, run_folder, processes)
        print("%s serves %s on 127.0.0.1:%d" % (server, site, port))
        run = Run(server, site, Client(port))
        for name, check in CHECKS + [("error logs", lambda r: check_logs_clean(r, run_folder))]:
            try:
                check(run)
                print("PASS %s" % name)
                passed += 1
            except (CheckFailed, OSError, http.client.HTTPException,
                    concurrent.futures.TimeoutError, threading.BrokenBarrierError) as problem:
                print("FAIL %s: %s: %s" % (name, type(problem).__name__, problem))
                failed += 1
                if not run.all_results:
                    break  # nothing else can be judged without the first search
    except CheckFailed as problem:
        print("FAIL %s: %s" % (server, problem))
        failed += 1
    finally:
        processes.stop_all()
        if failed:
            show_logs(run_folder)
        shutil.rmtree(work, ignore_errors=True)
    print("%s: %d passed, %d failed" % (server, passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
