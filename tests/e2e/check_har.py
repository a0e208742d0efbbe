#!/usr/bin/env python3
"""Reads a HAR file with Python's own json module and checks it against the HAR 1.2 rules: every
required field present with its type, times that add up, absolute URLs. Then checks the five
known exchanges of the end-to-end run field by field.

Usage: check_har.py FILE SITE_DIR ORIGIN POST_BODY
Exits 0 when every check passes; prints each failure otherwise.
"""
import json
import os
import re
import sys

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
    return condition


def is_int(value):
    return isinstance(value, int) and not isinstance(value, bool)


def is_number(value):
    return isinstance(value, (int, float)) and not isinstance(value, bool)


def name_value_list(items, where, extra=()):
    if not check(isinstance(items, list), where + " is a list"):
        return
    for i, item in enumerate(items):
        check(isinstance(item, dict), "%s[%d] is an object" % (where, i))
        check(isinstance(item.get("name"), str), "%s[%d].name is a string" % (where, i))
        check(isinstance(item.get("value"), str), "%s[%d].value is a string" % (where, i))
        for key, kind in extra:
            if key in item:
                check(isinstance(item[key], kind), "%s[%d].%s type" % (where, i, key))


ISO = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}(Z|[+-]\d\d:\d\d)$")
COOKIE_EXTRA = (("path", str), ("domain", str), ("expires", str), ("httpOnly", bool),
                ("secure", bool))


def check_entry(entry, n):
    where = "entries[%d]" % n
    check(isinstance(entry.get("startedDateTime"), str) and ISO.match(entry["startedDateTime"]),
          where + ".startedDateTime is ISO 8601 with milliseconds and offset")
    check(is_number(entry.get("time")) and entry["time"] >= 0, where + ".time")
    check(isinstance(entry.get("cache"), dict), where + ".cache is an object")

    request = entry.get("request")
    if check(isinstance(request, dict), where + ".request"):
        for key in ("method", "url", "httpVersion"):
            check(isinstance(request.get(key), str), where + ".request." + key)
        check(re.match(r"^https?://[^/]", request.get("url", "")) is not None,
              where + ".request.url is absolute")
        check("#" not in request.get("url", "#"), where + ".request.url has no fragment")
        name_value_list(request.get("cookies"), where + ".request.cookies")
        name_value_list(request.get("headers"), where + ".request.headers")
        name_value_list(request.get("queryString"), where + ".request.queryString")
        check(is_int(request.get("headersSize")), where + ".request.headersSize")
        check(is_int(request.get("bodySize")), where + ".request.bodySize")
        if "postData" in request:
            post = request["postData"]
            check(isinstance(post.get("mimeType"), str), where + ".postData.mimeType")
            name_value_list(post.get("params"), where + ".postData.params")
            check(isinstance(post.get("text"), str), where + ".postData.text")

    response = entry.get("response")
    if check(isinstance(response, dict), where + ".response"):
        check(is_int(response.get("status")), where + ".response.status")
        for key in ("statusText", "httpVersion", "redirectURL"):
            check(isinstance(response.get(key), str), where + ".response." + key)
        name_value_list(response.get("cookies"), where + ".response.cookies", COOKIE_EXTRA)
        name_value_list(response.get("headers"), where + ".response.headers")
        check(is_int(response.get("headersSize")), where + ".response.headersSize")
        check(is_int(response.get("bodySize")), where + ".response.bodySize")
        content = response.get("content")
        if check(isinstance(content, dict), where + ".response.content"):
            check(is_int(content.get("size")) and content["size"] >= 0, where + ".content.size")
            check(isinstance(content.get("mimeType"), str), where + ".content.mimeType")
            for key in ("text", "encoding", "comment"):
                if key in content:
                    check(isinstance(content[key], str), where + ".content." + key)

    timings = entry.get("timings")
    if check(isinstance(timings, dict), where + ".timings"):
        total = 0
        for key in ("send", "wait", "receive"):
            check(is_number(timings.get(key)) and timings[key] >= 0, where + ".timings." + key)
            total += timings.get(key, 0) if is_number(timings.get(key)) else 0
        for key in ("blocked", "dns", "connect", "ssl"):
            if key in timings:
                value = timings[key]
                check(is_number(value) and (value == -1 or value >= 0), where + ".timings." + key)
                if is_number(value) and value >= 0:
                    total += value
        check(timings.get("dns") == -1 and timings.get("ssl") == -1 and
              timings.get("blocked") == -1 and timings.get("send") == 0,
              where + ".timings: dns, ssl, blocked -1 and send 0")
        check(entry.get("time") == total, where + ".time is the sum of the timings")


def header(message, name):
    for item in message["headers"]:
        if item["name"].lower() == name.lower():
            return item["value"]
    return None


def main():
    path, site, origin, post_body = sys.argv[1:5]
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    log = document.get("log")
    if not check(isinstance(log, dict), "log is an object"):
        return report()
    check(log.get("version") == "1.2", "log.version is 1.2")
    creator = log.get("creator", {})
    check(creator.get("name") == "Relaywatch" and isinstance(creator.get("version"), str),
          "log.creator")
    entries = log.get("entries")
    if not check(isinstance(entries, list), "log.entries is a list"):
        return report()
    for n, entry in enumerate(entries):
        check_entry(entry, n)
    if failures:
        return report()

    by_url = {e["request"]["url"]: e for e in entries}
    check(len(entries) == 5, "5 entries, not %d" % len(entries))
    text = open(os.path.join(site, "text.html"), "rb").read()
    image = open(os.path.join(site, "pixel.png"), "rb").read()

    e = by_url.get(origin + "/text.html")
    if check(e is not None, "text page entry"):
        r = e["response"]
        check(e["request"]["method"] == "GET" and e["request"]["httpVersion"] == "HTTP/1.1",
              "text: request line")
        check(r["status"] == 200 and r["statusText"] == "OK", "text: status")
        check(r["content"]["mimeType"].startswith("text/html"), "text: mimeType")
        check(r["content"]["size"] == len(text), "text: content.size")
        check(r["content"].get("text", "").encode("utf-8") == text, "text: content.text is the page")
        check(r["bodySize"] == len(text), "text: bodySize")
        check(header(r, "Content-Length") == str(len(text)), "text: Content-Length header")

    e = by_url.get(origin + "/pixel.png?size=1&name=dot")
    if check(e is not None, "image entry"):
        r = e["response"]
        check(e["request"]["queryString"] == [{"name": "size", "value": "1"},
                                             {"name": "name", "value": "dot"}],
              "image: queryString")
        check(r["status"] == 200 and r["content"]["mimeType"] == "image/png", "image: status, type")
        check(r["content"]["size"] == len(image), "image: content.size")
        check("text" not in r["content"], "image: no text for a body not captured")
        check("not captured" in r["content"].get("comment", ""), "image: comment says why")

    e = by_url.get(origin + "/echo")
    if check(e is not None, "POST entry"):
        q, r = e["request"], e["response"]
        check(q["method"] == "POST", "POST: method")
        check(q["postData"]["text"] == post_body, "POST: postData.text")
        check(q["postData"]["mimeType"] == "application/x-www-form-urlencoded", "POST: mimeType")
        check(q["bodySize"] == len(post_body.encode("utf-8")), "POST: bodySize")
        check(q["cookies"] == [{"name": "session", "value": "abc123"}], "POST: request cookies")
        check(r["status"] == 201, "POST: status")
        check(r["content"].get("text") == post_body, "POST: echoed body")
        cookies = r["cookies"]
        check(len(cookies) == 1 and cookies[0]["name"] == "seen" and cookies[0]["value"] == "1"
              and cookies[0].get("path") == "/" and cookies[0].get("httpOnly") is True,
              "POST: Set-Cookie as a cookie")
        check(r["redirectURL"] == "/echo/1", "POST: redirectURL from Location")

    e = by_url.get(origin + "/missing.html")
    if check(e is not None, "404 entry"):
        r = e["response"]
        check(r["status"] == 404 and r["statusText"] == "File not found", "404: status")
        check("404" in r["content"].get("text", ""), "404: error page text")

    ascii_page = open(os.path.join(site, "ascii.html"), "rb").read()
    e = by_url.get(origin + "/chunked/ascii.html")
    if check(e is not None, "chunked entry"):
        r = e["response"]
        check(header(r, "Transfer-Encoding") == "chunked", "chunked: as the server sent it")
        check(r["content"].get("text", "").encode("utf-8") == ascii_page, "chunked: decoded text")
        check(r["content"]["size"] == len(ascii_page), "chunked: content.size is the decoded size")
        check(r["bodySize"] > len(ascii_page), "chunked: bodySize counts the bytes on the wire")

    started = [e["startedDateTime"] for e in entries]
    check(started == sorted(started), "entries in the order they started")
    return report()


def report():
    for failure in failures:
        print("HAR check failed: " + failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
