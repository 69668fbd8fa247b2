"""Prints, one line per URL, 1 when Python's robots.txt parser lets the agent fetch it, else 0.

Usage: robotparser_decisions.py AGENT ROBOTS_FILE URL...
"""
import sys
import urllib.robotparser


def main():
    agent, path, urls = sys.argv[1], sys.argv[2], sys.argv[3:]
    parser = urllib.robotparser.RobotFileParser()
    with open(path, "rb") as f:
        parser.parse(f.read().decode("utf-8", "replace").splitlines())
    for url in urls:
        print("1" if parser.can_fetch(agent, url) else "0")


if __name__ == "__main__":
    main()
