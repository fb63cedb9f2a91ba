#!/usr/bin/python3
"""A driverless (eSCL) network scanner on 127.0.0.1 for the end-to-end tests.

It serves just what sane-airscan asks of a scanner: the capabilities, the status, a scan job
and its pages. Pages are solid images of the exact pixel size that the job asked for, as PNG
or as baseline JPEG, made with the standard library alone. Flags give the scanner its parts
(flatbed, feeder, duplex), the sheets in its feeder, and its faults: a paper jam, an open
cover, a page that never comes, a scanner that dies mid-batch."""

import argparse
import http.server
import os
import re
import struct
import threading
import time
import zlib

ESCL = 'xmlns:scan="http://schemas.hp.com/imaging/escl/2011/05/03" ' \
       'xmlns:pwg="http://www.pwg.org/schemas/2010/12/sm"'
WIDTH, HEIGHT = 2480, 3508  # A4, in 1/300 inch
RESOLUTIONS = (75, 150, 300, 600)
COLOURS = ((250, 250, 245), (255, 230, 180), (200, 230, 255), (220, 255, 210))


def flag(text):
    return text == 'yes'


def options():
    p = argparse.ArgumentParser(description=__doc__)
    p.add_argument('--port', type=int, required=True)
    p.add_argument('--flatbed', type=flag, default=True, metavar='yes|no')
    p.add_argument('--feeder', type=flag, default=True, metavar='yes|no')
    p.add_argument('--duplex', type=flag, default=False, metavar='yes|no')
    p.add_argument('--sheets', type=int, default=3, help='sheets in the feeder')
    p.add_argument('--jam-after', type=int, default=-1, help='the sheet after N sheets jams')
    p.add_argument('--cover-open', type=flag, default=False, metavar='yes|no')
    p.add_argument('--hang-after', type=int, default=-1,
                   help='after N pages, a page request is taken and never answered')
    p.add_argument('--exit-after', type=int, default=-1,
                   help='after N pages, the server dies on the next page request')
    p.add_argument('--formats', default='image/jpeg', help='comma-separated MIME types')
    p.add_argument('--page-time', type=float, default=0.2,
                   help='seconds that each page request takes, as the paper moves')
    return p.parse_args()


# --- images -------------------------------------------------------------------------------

def png(width, height, pixel):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + \
            struct.pack('>I', zlib.crc32(kind + data))
    colour_type = 2 if len(pixel) == 3 else 0
    row = b'\0' + bytes(pixel) * width  # filter type 0, then the samples
    header = struct.pack('>IIBBBBB', width, height, 8, colour_type, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(row * height, 1)) + chunk(b'IEND', b''))


def jpeg(width, height, pixel):
    """A baseline JPEG of one colour. With a quantisation table of ones, a block's only
    coefficient is its DC, 8 * (sample - 128); every block after the first of its component
    repeats it, so it codes as a zero difference and an end of block: all zero bits."""
    if len(pixel) == 3:
        r, g, b = pixel
        samples = (round(0.299 * r + 0.587 * g + 0.114 * b),
                   round(128 - 0.168736 * r - 0.331264 * g + 0.5 * b),
                   round(128 + 0.5 * r - 0.418688 * g - 0.081312 * b))
    else:
        samples = tuple(pixel)
    n = len(samples)

    def segment(marker, data):
        return struct.pack('>BBH', 0xFF, marker, len(data) + 2) + data
    # DC table: the 12 difference categories, each a 4-bit code (category 0 is 0000);
    # AC table: end of block alone, the 1-bit code 0.
    dc = bytes([0x00]) + bytes([0, 0, 0, 12] + [0] * 12) + bytes(range(12))
    ac = bytes([0x10]) + bytes([1] + [0] * 15) + bytes([0x00])
    bits = ''
    for s in samples:
        diff = 8 * (s - 128)
        size = abs(diff).bit_length()
        value = diff if diff >= 0 else diff + (1 << size) - 1
        bits += format(size, '04b') + (format(value, f'0{size}b') if size else '') + '0'
    blocks = -(-width // 8) * -(-height // 8)
    bits += '0' * (5 * n * (blocks - 1))  # 4 bits of DC and 1 of AC per later block
    bits += '1' * (-len(bits) % 8)
    data = int(bits, 2).to_bytes(len(bits) // 8, 'big').replace(b'\xff', b'\xff\x00')
    frame = struct.pack('>BHHB', 8, height, width, n) + \
        b''.join(bytes([i + 1, 0x11, 0]) for i in range(n))
    scan = bytes([n]) + b''.join(bytes([i + 1, 0x00]) for i in range(n)) + bytes([0, 63, 0])
    return (b'\xff\xd8' + segment(0xE0, b'JFIF\0\x01\x01\x00\x00\x01\x00\x01\x00\x00') +
            segment(0xDB, bytes([0]) + bytes([1] * 64)) + segment(0xC0, frame) +
            segment(0xC4, dc + ac) + segment(0xDA, scan) + data + b'\xff\xd9')


# --- the scanner ----------------------------------------------------------------------------

def capabilities(args):
    formats = ''.join(f'<pwg:DocumentFormat>{f}</pwg:DocumentFormat>'
                      f'<scan:DocumentFormatExt>{f}</scan:DocumentFormatExt>'
                      for f in args.formats.split(','))
    resolutions = ''.join(f'<scan:DiscreteResolution><scan:XResolution>{r}</scan:XResolution>'
                          f'<scan:YResolution>{r}</scan:YResolution></scan:DiscreteResolution>'
                          for r in RESOLUTIONS)
    caps = (f'<scan:MinWidth>16</scan:MinWidth><scan:MaxWidth>{WIDTH}</scan:MaxWidth>'
            f'<scan:MinHeight>16</scan:MinHeight><scan:MaxHeight>{HEIGHT}</scan:MaxHeight>'
            '<scan:SettingProfiles><scan:SettingProfile><scan:ColorModes>'
            '<scan:ColorMode>RGB24</scan:ColorMode><scan:ColorMode>Grayscale8</scan:ColorMode>'
            f'</scan:ColorModes><scan:DocumentFormats>{formats}</scan:DocumentFormats>'
            '<scan:SupportedResolutions><scan:DiscreteResolutions>'
            f'{resolutions}</scan:DiscreteResolutions></scan:SupportedResolutions>'
            '</scan:SettingProfile></scan:SettingProfiles>')
    body = ''
    if args.flatbed:
        body += f'<scan:Platen><scan:PlatenInputCaps>{caps}</scan:PlatenInputCaps></scan:Platen>'
    if args.feeder:
        duplex = f'<scan:AdfDuplexInputCaps>{caps}</scan:AdfDuplexInputCaps>' \
            if args.duplex else ''
        body += (f'<scan:Adf><scan:AdfSimplexInputCaps>{caps}</scan:AdfSimplexInputCaps>'
                 f'{duplex}</scan:Adf>')
    return (f'<?xml version="1.0" encoding="UTF-8"?><scan:ScannerCapabilities {ESCL}>'
            '<pwg:Version>2.63</pwg:Version><pwg:MakeAndModel>QEV eSCL Test</pwg:MakeAndModel>'
            f'<scan:Manufacturer>QEV</scan:Manufacturer>{body}</scan:ScannerCapabilities>')


class Scanner:
    """The paper path and the jobs; every handler thread goes through its lock."""

    def __init__(self, args):
        self.args = args
        self.lock = threading.Lock()
        self.sheets = args.sheets  # still in the feeder
        self.fed = 0               # sheets taken from the feeder
        self.pages = 0             # pages served, for every job
        self.jammed = False
        self.jobs = {}             # job path -> settings and pages served
        self.busy = False

    def adf_state(self):
        if self.args.cover_open:
            return 'ScannerAdfDoorOpen'
        if self.jammed:
            return 'ScannerAdfJam'
        return 'ScannerAdfLoaded' if self.sheets > 0 else 'ScannerAdfEmpty'

    def status(self):
        adf = f'<scan:AdfState>{self.adf_state()}</scan:AdfState>' if self.args.feeder else ''
        state = 'Processing' if self.busy else 'Idle'
        return (f'<?xml version="1.0" encoding="UTF-8"?><scan:ScannerStatus {ESCL}>'
                f'<pwg:Version>2.63</pwg:Version><pwg:State>{state}</pwg:State>{adf}'
                '</scan:ScannerStatus>')

    def create(self, settings):
        """Returns the new job's path, or None when the feeder cannot start."""
        def number(tag, default):
            found = re.search(rf'<\w+:{tag}>(\d+)</', settings)
            return int(found.group(1)) if found else default
        source = re.search(r'<pwg:InputSource>(\w+)</', settings)
        feeder = source is not None and source.group(1) == 'Feeder'
        formats = re.findall(r'<(?:pwg:DocumentFormat|scan:DocumentFormatExt)>([^<]+)</',
                             settings)
        job = {'feeder': feeder, 'pages': 0,
               'duplex': feeder and '<scan:Duplex>true</' in settings,
               'dpi': number('XResolution', 300),
               'width': number('Width', WIDTH), 'height': number('Height', HEIGHT),
               'format': formats[-1] if formats else 'image/jpeg',
               'gray': '<scan:ColorMode>Grayscale8</' in settings}
        with self.lock:
            if feeder and self.adf_state() != 'ScannerAdfLoaded':
                return None
            path = f'/eSCL/ScanJobs/{len(self.jobs) + 1}'
            self.jobs[path] = job
            self.busy = True
        return path

    def next_page(self, path):
        """An HTTP status, and the page with its type. Blocks forever where the scanner
        hangs."""
        # Paper takes its time. An answer at once would let sane-airscan take in a whole
        # batch before its first sane_start looks: that start then reports the batch's end
        # and the pages already received are lost.
        time.sleep(self.args.page_time)
        with self.lock:
            job = self.jobs.get(path)
            if job is None:
                return 404, None, None
            if job['pages'] % (2 if job['duplex'] else 1) == 0:  # the next sheet
                code = self.feed(job)
                if code != 200:
                    self.busy = False
                    return code, None, None
            if self.pages == self.args.exit_after:
                os._exit(0)
            hang = self.pages == self.args.hang_after
            self.pages += 1
            job['pages'] += 1
            pixel = COLOURS[(self.pages - 1) % len(COLOURS)]
        if hang:
            threading.Event().wait()
        width, height = job['width'] * job['dpi'] // 300, job['height'] * job['dpi'] // 300
        pixel = pixel[:1] if job['gray'] else pixel
        if job['format'] == 'image/png':
            return 200, 'image/png', png(width, height, pixel)
        return 200, 'image/jpeg', jpeg(width, height, pixel)

    def feed(self, job):
        """Takes the next sheet: 200, or the status that answers its page request."""
        if not job['feeder']:
            return 200 if job['pages'] == 0 else 404  # the flatbed holds one sheet
        if self.args.cover_open:
            return 503
        if self.fed == self.args.jam_after:
            self.jammed = True
            return 503
        if self.sheets == 0:
            return 404
        self.sheets -= 1
        self.fed += 1
        return 200

    def delete(self, path):
        with self.lock:
            self.busy = False
            return self.jobs.pop(path, None) is not None


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = 'HTTP/1.1'

    def reply(self, code, body=b'', kind='text/xml', headers=()):
        self.send_response(code)
        self.send_header('Content-Type', kind)
        self.send_header('Content-Length', str(len(body)))
        for name, value in headers:
            self.send_header(name, value)
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        scanner = self.server.scanner
        if self.path == '/eSCL/ScannerCapabilities':
            self.reply(200, capabilities(scanner.args).encode())
        elif self.path == '/eSCL/ScannerStatus':
            with scanner.lock:
                status = scanner.status()
            self.reply(200, status.encode())
        elif self.path.endswith('/NextDocument'):
            code, kind, page = scanner.next_page(self.path[:-len('/NextDocument')])
            self.reply(code, page or b'', kind or 'text/plain')
        else:
            self.reply(404)

    def do_POST(self):
        settings = self.rfile.read(int(self.headers.get('Content-Length', 0))).decode()
        if self.path != '/eSCL/ScanJobs':
            return self.reply(404)
        path = self.server.scanner.create(settings)
        if path is None:
            return self.reply(409)
        location = f'http://127.0.0.1:{self.server.server_port}{path}'
        self.reply(201, headers=[('Location', location)])

    def do_DELETE(self):
        self.reply(200 if self.server.scanner.delete(self.path) else 404)

    def log_message(self, format, *args):
        pass


def main():
    args = options()
    server = http.server.ThreadingHTTPServer(('127.0.0.1', args.port), Handler)
    server.daemon_threads = True
    server.scanner = Scanner(args)
    server.serve_forever()


if __name__ == '__main__':
    main()
