"""What the harness knows of the program's pages, in one place for the web,
board and load stages and the bench: the seven menu pages as requests name
them, with their menu labels, the documents' title and the pictures.
"""

import os

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# The menu pages in menu order: the request's index_link value as a form
# sends it (spaces as "+"), and the button's label without its padding.
PAGES = [
    ("Hardware", "Hardware"),
    ("CPU_Info", "CPU Info"),
    ("MEM+Info", "MEM Info"),
    ("PCI+Info", "PCI Info"),
    ("Wan+Lan+Setting", "Wan Lan Setting"),
    ("Net+Statistics", "Net Statistics"),
    ("Route+Table", "Route Table"),
]
VALUES = [value for value, _ in PAGES]
# The home page, the settings form, and the pages of the board's commands.
HOME = "Hardware"
FORM = "Wan+Lan+Setting"
COMMANDS = {"ifconfig": "Net+Statistics", "route": "Route+Table"}
# The program's address on the board.
CGI = "/cgi-bin/northbeam"
# The title of every document.
TITLE = "Tessaline - Your Northbeam Partner"
# The pictures the pages name as ../images/NAME: every file of images/.
IMAGES = os.path.join(SOURCE, "images")
PICTURES = sorted(os.listdir(IMAGES))


def query(*values):
    """The query that asks for these pages in one document."""
    return "rc=1" + "".join("&index_link=" + value for value in values)


def path(*values):
    """The program's address asking for these pages."""
    return CGI + "?" + query(*values)
