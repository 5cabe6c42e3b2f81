#!/bin/sh
# Writes the seed movies of the pipeline fuzz target into DIR: tiny Tavro
# movies from our encoder and, when the ffmpeg tool is there, one tiny movie
# of each codec family people keep in AVI files, with sound of each kind the
# player reads. Each is a few kilobytes; nothing binary is kept in the tree.
# usage: make-seeds.sh DIR QX47ENC
set -eu
dir=$1
enc=$2
mkdir -p "$dir"
"$enc" --quiet --synthetic landscape --size 32x24 --seconds 0.4 --fps 10 --keyint 2 "$dir/qx47.avi"
"$enc" --quiet --synthetic sprite --size 48x32 --seconds 0.4 --fps 10 --no-sound --transparent FF00FF \
    "$dir/qx47-transparent.avi"
"$enc" --quiet --synthetic landscape --size 32x24 --seconds 0.3 --fps 10 --key 4711 "$dir/qx47-keyed.avi"
command -v ffmpeg >/dev/null 2>&1 || exit 0
movie() {
    name=$1
    shift
    ffmpeg -nostdin -loglevel error -y -f lavfi -i testsrc2=size=32x24:rate=10:duration=0.6 \
        -f lavfi -i sine=frequency=440:sample_rate=11025:duration=0.6 -shortest "$@" "$dir/$name.avi" ||
        echo "make-seeds: $name not made (this ffmpeg lacks its encoder)" >&2
}
movie mjpeg -c:v mjpeg -pix_fmt yuvj422p -c:a pcm_s16le
movie cinepak -c:v cinepak -c:a pcm_u8
movie msvideo1 -c:v msvideo1 -c:a adpcm_ima_wav
movie mpeg4-bframes -c:v mpeg4 -bf 2 -g 4 -c:a libmp3lame -b:a 32k
movie h264-bframes -c:v libx264 -bf 2 -g 4 -pix_fmt yuv420p -c:a adpcm_ms
movie huffyuv -c:v huffyuv -c:a pcm_mulaw
movie ffv1 -c:v ffv1 -c:a ac3 -b:a 64k
movie zmbv -c:v zmbv -c:a aac -b:a 32k
movie pal8 -c:v rawvideo -pix_fmt pal8 -an
