"""Decodes a CAN log with a DBC file through canmatrix, as a telematics engineer would.

Usage: python3 -I dbc_decode.py DBC LOG

LOG holds one frame per line as the program writes its output log: the time in seconds,
a blank, the identifier as 8 hexadecimal digits and the 8 data bytes as 16 (the line
"000.0000 18FEF100F315000CFFFFFFFF"). For every signal of every frame the DBC describes,
one line is printed: the frame's time in microseconds, the signal's comment, its raw
value and its physical value, separated by tabs. Frames the DBC does not describe (the
packets of broadcast transfers) are left out. Exit status 3 when canmatrix is missing.
"""

import sys

try:
    import canmatrix
    import canmatrix.formats
except ImportError:
    sys.exit(3)


def main():
    dbc_file, log_file = sys.argv[1], sys.argv[2]
    db = canmatrix.formats.loadp_flat(dbc_file)
    out = sys.stdout
    with open(log_file, "r", encoding="ascii") as log:
        for line in log:
            line = line.strip()
            if not line:
                continue
            seconds, rest = line.split(" ")
            frame_id = int(rest[0:8], 16)
            data = bytes.fromhex(rest[8:24])
            frame = db.frame_by_id(canmatrix.ArbitrationId(frame_id, extended=True))
            if frame is None:
                frame = db.frame_by_pgn(canmatrix.ArbitrationId(frame_id, extended=True).pgn)
            if frame is None or not frame.signals:
                continue
            micros = round(float(seconds) * 1000000)
            for name, decoded in frame.decode(data).items():
                comment = decoded.signal.comment or name
                out.write("%d\t%s\t%d\t%s\n" % (micros, comment, decoded.raw_value, decoded.phys_value))


main()
