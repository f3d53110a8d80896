"""DER taken apart into a tree and put back together, for the envelope tests."""


def parse(data):
    """A DER element list: (tag, contents bytes, children or None) for each element."""
    out, i = [], 0
    while i < len(data):
        tag, length, i = data[i], data[i + 1], i + 2
        if length & 0x80:
            n = length & 0x7F
            length, i = int.from_bytes(data[i:i + n], 'big'), i + n
        contents = data[i:i + length]
        children = parse(contents) if tag & 0x20 else None
        out.append([tag, contents, children])
        i += length
    return out


def encode(elements):
    out = b''
    for tag, contents, children in elements:
        body = encode(children) if children is not None else contents
        n = len(body)
        length = bytes([n]) if n < 0x80 else bytes([0x80 | ((n.bit_length() + 7) // 8)]) + \
            n.to_bytes((n.bit_length() + 7) // 8, 'big')
        out += bytes([tag]) + length + body
    return out
