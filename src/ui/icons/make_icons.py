#!/usr/bin/python3
"""Writes the SVG images of the browse lists, the folder trees and the action legend, and
images.qrc that lists them. Run it from anywhere after changing a drawing; the SVG files are
kept in the repository, so the build does not need Python."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))

FILE_BODY = {
    "plain": ("#ffffff", "#5a6470", "#dde3ea"),
    "grey": ("#eeeeee", "#8c8c8c", "#d2d2d2"),
}
FOLDER_BODY = {
    "plain": ("#e8b64c", "#f4cd6a", "#9a7420"),
    "grey": ("#b5b5b5", "#cfcfcf", "#7d7d7d"),
}


def file_shape(tone):
    fill, stroke, fold = FILE_BODY[tone]
    return (
        f'<path d="M7.5 2.5H19.5L25.5 8.5V29.5H7.5Z" fill="{fill}" stroke="{stroke}"/>'
        f'<path d="M19.5 2.5V8.5H25.5" fill="{fold}" stroke="{stroke}"/>'
        f'<path d="M10.5 13.5H20.5M10.5 17.5H22.5M10.5 21.5H17.5" stroke="{fold}" stroke-width="1.5"/>'
    )


def folder_shape(tone, opened):
    back, front, stroke = FOLDER_BODY[tone]
    shape = f'<path d="M2.5 7.5H11.5L14 10H29.5V26.5H2.5Z" fill="{back}" stroke="{stroke}"/>'
    if opened:
        shape += f'<path d="M2.5 26.5L7 14.5H31L26.5 26.5Z" fill="{front}" stroke="{stroke}"/>'
    else:
        shape += f'<path d="M2.5 12.5H29.5V26.5H2.5Z" fill="{front}" stroke="{stroke}"/>'
    return shape


def badge(kind):
    # A round mark in the lower right corner says what happens to the entry.
    colours = {"add": "#2e9d3a", "delete": "#d0312d", "overwrite": "#2f6fd0", "excluded": "#6b6b6b"}
    mark = {
        "add": '<path d="M23 18.5V27.5M18.5 23H27.5" stroke="#fff" stroke-width="2.6"/>',
        "delete": '<path d="M19.8 19.8L26.2 26.2M26.2 19.8L19.8 26.2" stroke="#fff" stroke-width="2.6"/>',
        "overwrite": (
            '<path d="M26.6 21.2A4 4 0 1 0 26.4 25.4" fill="none" stroke="#fff" stroke-width="2.2"/>'
            '<path d="M27.8 17.8V22.4H23.2Z" fill="#fff"/>'
        ),
        "excluded": '<path d="M19.2 23H26.8" stroke="#fff" stroke-width="2.8"/>',
    }[kind]
    return (
        f'<circle cx="23" cy="23" r="6.8" fill="{colours[kind]}" stroke="#ffffff" stroke-width="1.2"/>'
        + mark
    )


def failed_mark():
    # A warning triangle in the upper left corner: the action was tried and did not succeed.
    return (
        '<path d="M7 0.8L13.6 12.6H0.4Z" fill="#ffcc00" stroke="#b3261e" stroke-width="1.2" '
        'stroke-linejoin="round"/>'
        '<path d="M7 4.4V8.6" stroke="#b3261e" stroke-width="1.8"/>'
        '<circle cx="7" cy="10.6" r="1" fill="#b3261e"/>'
    )


def svg(body):
    return (
        '<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" viewBox="0 0 32 32" '
        'stroke-linecap="round">' + body + "</svg>\n"
    )


# name: (shape, action badge or None, failed)
IMAGES = {
    "file": ("file", None, False),
    "file-excluded": ("file-grey", "excluded", False),
    "file-overwrite": ("file", "overwrite", False),
    "file-add": ("file", "add", False),
    "file-delete": ("file", "delete", False),
    "file-overwrite-failed": ("file", "overwrite", True),
    "file-add-failed": ("file", "add", True),
    "file-delete-failed": ("file", "delete", True),
    "folder": ("folder", None, False),
    "folder-excluded": ("folder-grey", "excluded", False),
    "folder-add": ("folder", "add", False),
    "folder-delete": ("folder", "delete", False),
    "folder-add-failed": ("folder", "add", True),
    "folder-delete-failed": ("folder", "delete", True),
    "folder-open": ("folder-open", None, False),
    "folder-add-open": ("folder-open", "add", False),
    "folder-delete-open": ("folder-open", "delete", False),
    "folder-add-failed-open": ("folder-open", "add", True),
    "folder-delete-failed-open": ("folder-open", "delete", True),
}


def draw(shape, action, failed):
    if shape.startswith("file"):
        body = file_shape("grey" if shape.endswith("grey") else "plain")
    else:
        body = folder_shape("grey" if shape.endswith("grey") else "plain", shape.endswith("open"))
    if action:
        body += badge(action)
    if failed:
        body += failed_mark()
    return svg(body)


def main():
    for name, (shape, action, failed) in IMAGES.items():
        with open(os.path.join(HERE, name + ".svg"), "w", encoding="ascii") as out:
            out.write(draw(shape, action, failed))
    with open(os.path.join(HERE, "images.qrc"), "w", encoding="ascii") as out:
        out.write('<!DOCTYPE RCC>\n<RCC version="1.0">\n  <qresource prefix="/images">\n')
        for name in sorted(IMAGES):
            out.write(f"    <file>{name}.svg</file>\n")
        out.write("  </qresource>\n</RCC>\n")


if __name__ == "__main__":
    main()
