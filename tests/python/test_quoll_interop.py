"""Objects written through pyorvik read back byte-identical with boto3, and
the reverse, on the RADOS Gateway: awkward keys, empty objects and a
multipart object; a wrong secret is a clear authentication error."""
import os

import pytest

AWKWARD_NAMES = [
    "plain.txt",
    "with space",
    "plus+sign",
    "percent%20not-a-space",
    "100%",
    "unicod\u00e9 \u65e5\u672c",
    "q?x#y&z=w",
    "semi;colon:at@,dollar$",
    "quote'\"<tag>&amp;",
    "tilde~star*(paren)[br]{cb}",
    "back\\slash",
    "emoji-\U0001F600",
]


@pytest.mark.parametrize("name", AWKWARD_NAMES)
def test_pyorvik_writes_boto3_reads(quoll_connect, s3, rgw, prefix, name):
    fs = quoll_connect()
    data = os.urandom(1000) + name.encode()
    with fs.open("/" + name, "wb") as f:
        f.write(data)
    body = s3.get_object(Bucket=rgw.bucket, Key=prefix + "/" + name)["Body"].read()
    assert body == data
    assert [info.path.rsplit("/", 1)[-1] for info in fs.listdir("/")] == [name]


@pytest.mark.parametrize("name", AWKWARD_NAMES)
def test_boto3_writes_pyorvik_reads(quoll_connect, s3, rgw, prefix, name):
    data = os.urandom(777) + name.encode()
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/" + name, Body=data)
    fs = quoll_connect()
    with fs.open("/" + name, "rb") as f:
        assert f.read() == data
    assert fs.get_file_info("/" + name).size == len(data)


def test_empty_objects_both_ways(quoll_connect, s3, rgw, prefix):
    fs = quoll_connect()
    with fs.open("/empty-ours", "wb"):
        pass
    head = s3.head_object(Bucket=rgw.bucket, Key=prefix + "/empty-ours")
    assert head["ContentLength"] == 0
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/empty-theirs", Body=b"")
    with fs.open("/empty-theirs", "rb") as f:
        assert f.read() == b""
    assert fs.get_file_info("/empty-theirs").size == 0


def test_multipart_object_both_ways(quoll_connect, s3, rgw, prefix, tmp_path):
    data = os.urandom(100 * 1024 * 1024)
    fs = quoll_connect()
    with fs.open("/ours.bin", "wb") as f:
        for at in range(0, len(data), 3 * 1024 * 1024 + 17):
            f.write(data[at:at + 3 * 1024 * 1024 + 17])
    head = s3.head_object(Bucket=rgw.bucket, Key=prefix + "/ours.bin")
    assert head["ContentLength"] == len(data)
    assert head["ETag"].strip('"').endswith("-13")  # 8 MiB parts
    got = s3.get_object(Bucket=rgw.bucket, Key=prefix + "/ours.bin")["Body"].read()
    assert got == data

    from boto3.s3.transfer import TransferConfig
    source = tmp_path / "theirs.bin"
    source.write_bytes(data)
    s3.upload_file(str(source), rgw.bucket, prefix + "/theirs.bin",
                   Config=TransferConfig(multipart_threshold=8 << 20,
                                         multipart_chunksize=8 << 20))
    with fs.open("/theirs.bin", "rb") as f:
        assert f.read() == data


def test_wrong_secret_is_an_authentication_error(quoll_connect, rgw):
    with pytest.raises(ValueError) as info:
        quoll_connect(secret="definitely-wrong")
    message = info.value.args[0]
    if isinstance(message, bytes):
        message = message.decode()
    assert "definitely-wrong" not in message
    assert rgw.bucket in message
    assert "403" in message and "accessKeySecret" in message
