#!/usr/bin/env python3
"""Rewrites Word 97 files written by LibreOffice (one piece of 16-bit text) the way other word
processors store text: several pieces, those whose characters all have a Windows-1252 byte
stored as 8-bit text. The text moves to the end of the Word stream, the property pages' and bin
tables' positions follow it, a new piece table closes the table stream, and the streams are
packed into a new compound file (regular sectors only).
Usage: word97_pieces.py FOLDER SEED FILE...; prints each file's piece and 8-bit piece counts."""
import os
import random
import struct
import sys


def read_streams(data):
    """The streams of a compound file by name."""
    ss = 1 << struct.unpack_from('<H', data, 30)[0]
    mss = 1 << struct.unpack_from('<H', data, 32)[0]
    nfat, dirstart, _, mscut, minifatstart = struct.unpack_from('<IIIII', data, 44)
    difat = list(struct.unpack_from('<109I', data, 76))

    def sec(n):
        return data[512 + n * ss:512 + (n + 1) * ss]
    fat = []
    for s in difat[:nfat]:
        fat += struct.unpack('<%dI' % (ss // 4), sec(s))

    def chain(s):
        out = []
        while s < 0xFFFFFFFA:
            out.append(s)
            s = fat[s]
        return out
    d = b''.join(sec(s) for s in chain(dirstart))
    ents = []
    for i in range(len(d) // 128):
        e = d[i * 128:(i + 1) * 128]
        nl = struct.unpack_from('<H', e, 64)[0]
        start, size = struct.unpack_from('<II', e, 116)
        ents.append((e[:max(nl - 2, 0)].decode('utf-16le'), e[66], start, size))
    ministream = b''.join(sec(s) for s in chain(ents[0][2]))
    minifat = []
    for s in chain(minifatstart):
        minifat += struct.unpack('<%dI' % (ss // 4), sec(s))
    res = {}
    for name, typ, start, size in ents[1:]:
        if typ != 2:
            continue
        if size < mscut:
            b = b''
            s = start
            while s < 0xFFFFFFFA and len(b) < size:
                b += ministream[s * mss:(s + 1) * mss]
                s = minifat[s]
        else:
            b = b''.join(sec(s) for s in chain(start))
        res[name] = b[:size]
    return res
def write_cfb(strs):
    ss=512
    names=list(strs.keys())
    data=b''; starts={}
    for n in names:
        b=strs[n]; nsec=(len(b)+ss-1)//ss
        starts[n]=len(data)//ss
        data+=b+b'\0'*(nsec*ss-len(b))
    nstream_secs=len(data)//ss
    # directory
    ents=[]
    def ent(name,typ,child,right,start,size):
        nm=name.encode('utf-16le')+b'\0\0'
        e=nm+b'\0'*(64-len(nm))+struct.pack('<HBB',len(nm),typ,1)+struct.pack('<III',0xFFFFFFFF,right,child)
        e+=b'\0'*16+b'\0'*4+b'\0'*16+struct.pack('<III',start,size,0)
        assert len(e)==128; return e
    n=len(names)
    ents.append(ent('Root Entry',5,1 if n else 0xFFFFFFFF,0xFFFFFFFF,0xFFFFFFFE,0))
    for i,nm in enumerate(names):
        ents.append(ent(nm,2,0xFFFFFFFF,i+2 if i+1<n else 0xFFFFFFFF,starts[nm] if strs[nm] else 0xFFFFFFFE,len(strs[nm])))
    while len(ents)%4: ents.append(b'\0'*64+struct.pack('<HBB',0,0,0)+struct.pack('<III',0xFFFFFFFF,0xFFFFFFFF,0xFFFFFFFF)+b'\0'*36+struct.pack('<III',0,0,0))
    dirb=b''.join(ents); dirsecs=len(dirb)//ss
    # FAT
    total=nstream_secs+dirsecs
    nfat=1
    while (total+nfat)*4>nfat*ss: nfat+=1
    assert nfat<=109
    fat=[]
    for nm in names:
        b=strs[nm]; nsec=(len(b)+ss-1)//ss
        for k in range(nsec): fat.append(starts[nm]+k+1 if k+1<nsec else 0xFFFFFFFE)
    dirstart=len(fat)
    for k in range(dirsecs): fat.append(dirstart+k+1 if k+1<dirsecs else 0xFFFFFFFE)
    fatstart=len(fat)
    for k in range(nfat): fat.append(0xFFFFFFFD)
    fat+= [0xFFFFFFFF]*(nfat*ss//4-len(fat))
    hdr=bytes.fromhex('D0CF11E0A1B11AE1')+b'\0'*16+struct.pack('<HHHHH',0x3E,3,0xFFFE,9,6)+b'\0'*6
    hdr+=struct.pack('<IIIIIIIII',0,nfat,dirstart,0,0,0xFFFFFFFE,0,0xFFFFFFFE,0)
    difat=[fatstart+k for k in range(nfat)]+[0xFFFFFFFF]*(109-nfat)
    hdr+=struct.pack('<109I',*difat)
    assert len(hdr)==512
    return hdr+data+dirb+struct.pack('<%dI'%len(fat),*fat)

def transform(doc, rng):
    st=read_streams(doc)
    w=bytearray(st['WordDocument']); fl=struct.unpack_from('<H',w,10)[0]
    tn='1Table' if fl&0x200 else '0Table'; t=bytearray(st[tn])
    fc,lcb=struct.unpack_from('<II',w,0x1A2)
    assert t[fc]==2
    l=struct.unpack_from('<I',t,fc+1)[0]; n=(l-4)//12; assert n==1
    cp0,cpN=struct.unpack_from('<II',t,fc+5)
    pcd=t[fc+5+8:fc+5+16]; pfc=struct.unpack_from('<I',pcd,2)[0]; assert not pfc&0x40000000
    units=struct.unpack('<%dH'%cpN, bytes(w[pfc:pfc+2*cpN]))
    # split points
    cuts=sorted(set([0,cpN]+[rng.randrange(1,cpN) for _ in range(rng.randint(0,6))] if cpN>1 else [0,cpN]))
    X=len(w); X+= (-X)%2
    w+=b'\0'*(X-len(w))
    pieces=[]; newfc={}
    at=X
    for a,b in zip(cuts,cuts[1:]):
        seg=units[a:b]
        try:
            enc=b''.join(chr(u).encode('cp1252') for u in seg); eight=rng.random()<0.8
        except (UnicodeEncodeError, ValueError):
            eight=False
        if eight:
            pieces.append((a,(at*2)|0x40000000)); w+=enc; 
            for k in range(b-a+1): newfc[a+k]=at+k
            at+=len(enc)
        else:
            enc=struct.pack('<%dH'%len(seg),*seg); pieces.append((a,at)); w+=enc
            for k in range(b-a+1): newfc[a+k]=at+2*k
            at+=len(enc)
    def remap(old):
        if old&0x40000000: raise Exception('flag')
        d=old-pfc
        if d<0 or d%2 or d//2>cpN: raise Exception('out %x'%old)
        return newfc[d//2]
    # FKP pages + bin tables
    for off in (0xFA,0x102):
        bfc,blcb=struct.unpack_from('<II',w,off)
        nb=(blcb-4)//8
        for i in range(nb+1):
            struct.pack_into('<I',t,bfc+4*i,remap(struct.unpack_from('<I',t,bfc+4*i)[0]))
        for i in range(nb):
            pn=struct.unpack_from('<I',t,bfc+4*(nb+1)+4*i)[0]&0x3FFFFF
            page=pn*512; crun=w[page+511]
            for r in range(crun+1):
                struct.pack_into('<I',w,page+4*r,remap(struct.unpack_from('<I',w,page+4*r)[0]))
    # new CLX at the end of the table stream
    clx=b''.join(struct.pack('<I',c) for c,_ in pieces)+struct.pack('<I',cpN)
    for c,f in pieces: clx+=struct.pack('<HIH',0,f,0)
    newclx=bytes([2])+struct.pack('<I',len(clx))+clx
    nfc=len(t); t+=newclx
    struct.pack_into('<II',w,0x1A2,nfc,len(newclx))
    struct.pack_into('<II',w,0x18,X,at)
    st['WordDocument']=bytes(w); st[tn]=bytes(t)
    return write_cfb(st), len(pieces), sum(1 for _,f in pieces if f&0x40000000)


def main():
    out, seed = sys.argv[1], int(sys.argv[2])
    os.makedirs(out, exist_ok=True)
    rng = random.Random(seed)
    for f in sys.argv[3:]:
        b, pieces, eight = transform(open(f, 'rb').read(), rng)
        with open(os.path.join(out, os.path.basename(f)), 'wb') as o:
            o.write(b)
        print(os.path.basename(f), pieces, eight)


if __name__ == '__main__':
    main()
