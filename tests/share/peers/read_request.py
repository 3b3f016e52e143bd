#!/usr/bin/python3
"""Reads a messaging-platform request (binary property list) with plistlib and its images with
Pillow; prints one JSON line: the request's fields and the images' formats and sizes."""
import io
import json
import sys
import plistlib

from PIL import Image


def image_info(data):
    with Image.open(io.BytesIO(data)) as image:
        image.load()
        return {"format": image.format, "size": list(image.size)}


def main():
    with open(sys.argv[1], "rb") as f:
        request = plistlib.load(f, fmt=plistlib.FMT_BINARY)
    out = {key: request[key] for key in ("version", "appId", "transaction", "scene", "bText", "text")}
    out["thumb"] = image_info(request["thumbData"])
    out["image"] = image_info(request["imageData"])
    out["imageLength"] = len(request["imageData"])
    print(json.dumps(out), flush=True)


if __name__ == "__main__":
    main()
