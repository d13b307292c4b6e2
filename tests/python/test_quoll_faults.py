"""Faults between pyorvik and the RADOS Gateway, injected by a loopback
proxy: every case either succeeds through retries with the right bytes, or
fails with a clear error and publishes nothing (no object, no dangling
multipart upload)."""
import gc
import os

import pytest

MiB = 1 << 20


def object_path(name):
    """Matches requests on the object `name` (not listings of its bucket)."""
    return r"^[^?]*/%s(\?|$)" % name


def uploads_left(s3, rgw, prefix):
    return s3.list_multipart_uploads(Bucket=rgw.bucket, Prefix=prefix).get("Uploads", [])


@pytest.mark.parametrize("action, status, code", [
    ("status", 503, "SlowDown"),
    ("status", 500, "InternalError"),
    ("status", 502, "BadGateway"),
    ("status", 504, "GatewayTimeout"),
    ("status", 429, "TooManyRequests"),
    ("reset", 0, ""),
    ("truncate", 0, ""),
])
def test_reads_survive_transient_faults(quoll_connect, fault_proxy, s3, rgw, prefix,
                                        action, status, code):
    data = os.urandom(3 * MiB)
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/f", Body=data)
    fs = quoll_connect(endpoint=fault_proxy.endpoint)
    rule = fault_proxy.arm("GET", object_path("f"), action, status=status or 503,
                           code=code or "X", times=2)
    with fs.open("/f", "rb") as f:
        assert f.read() == data
        assert f.pread(1000, 12345) == data[12345:13345]
    assert fault_proxy.rule(rule)["fired"] == 2


def test_metadata_calls_retry_too(quoll_connect, fault_proxy, s3, rgw, prefix):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/f", Body=b"abc")
    fs = quoll_connect(endpoint=fault_proxy.endpoint)
    fault_proxy.arm("HEAD", object_path("f"), "status", status=503, code="SlowDown", times=2)
    fault_proxy.arm("GET", "list-type", "status", status=500, code="InternalError", times=2)
    assert fs.get_file_info("/f").size == 3
    assert [i.path.rsplit("/", 1)[-1] for i in fs.listdir("/")] == ["f"]


@pytest.mark.parametrize("size", [1 * MiB, 12 * MiB])
@pytest.mark.parametrize("action", ["status", "reset"])
def test_writes_survive_transient_faults(quoll_connect, fault_proxy, s3, rgw, prefix,
                                         size, action):
    data = os.urandom(size)
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"part.bytes": 5 * MiB})
    rule = fault_proxy.arm("PUT", object_path("w"), action, status=503, code="SlowDown", times=2)
    with fs.open("/w", "wb") as f:
        f.write(data)
    assert fault_proxy.rule(rule)["fired"] == 2
    assert s3.get_object(Bucket=rgw.bucket, Key=prefix + "/w")["Body"].read() == data
    assert uploads_left(s3, rgw, prefix) == []


def test_completion_answered_200_with_an_error_is_retried(
        quoll_connect, fault_proxy, s3, rgw, prefix):
    data = os.urandom(11 * MiB)
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"part.bytes": 5 * MiB})
    rule = fault_proxy.arm("POST", "uploadId=", "error_in_200", code="InternalError")
    with fs.open("/c", "wb") as f:
        f.write(data)
    assert fault_proxy.rule(rule)["fired"] == 1
    assert s3.get_object(Bucket=rgw.bucket, Key=prefix + "/c")["Body"].read() == data


# The stream's deallocation tries the failed close once more and reports
# the same failure through the unraisable hook.
@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_completion_that_keeps_failing_publishes_nothing(
        quoll_connect, fault_proxy, s3, rgw, prefix):
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"part.bytes": 5 * MiB,
                                                         "retry.attempts": 3})
    fault_proxy.arm("POST", "uploadId=", "error_in_200", code="InternalError", times=100)
    f = fs.open("/c", "wb")
    f.write(os.urandom(11 * MiB))
    with pytest.raises(IOError) as info:
        f.close()
    del f
    gc.collect()
    message = info.value.args[0]
    assert b"CompleteMultipartUpload" in message and b"InternalError" in message
    assert (rgw.bucket + "/" + prefix + "/c").encode() in message
    assert b"after 3 attempts" in message
    assert "Contents" not in s3.list_objects_v2(Bucket=rgw.bucket, Prefix=prefix)
    assert uploads_left(s3, rgw, prefix) == []


# The stream's deallocation tries the failed close once more and reports
# the same failure through the unraisable hook.
@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_a_part_that_keeps_failing_publishes_nothing(
        quoll_connect, fault_proxy, s3, rgw, prefix):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/old", Body=b"previous")
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"part.bytes": 5 * MiB,
                                                         "retry.attempts": 2})
    fault_proxy.arm("PUT", "partNumber=2", "status", status=500, code="InternalError",
                    times=100)
    with pytest.raises(IOError) as info:
        with fs.open("/old", "wb") as f:
            f.write(os.urandom(16 * MiB))
    del f
    gc.collect()
    assert b"UploadPart" in info.value.args[0] and b"500" in info.value.args[0]
    assert s3.get_object(Bucket=rgw.bucket, Key=prefix + "/old")["Body"].read() == b"previous"
    assert uploads_left(s3, rgw, prefix) == []


def test_exhausted_retries_name_status_code_and_object(
        quoll_connect, fault_proxy, s3, rgw, prefix):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/f", Body=b"abc")
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"retry.attempts": 3})
    rule = fault_proxy.arm("GET", object_path("f"), "status", status=503,
                           code="SlowDown", times=100)
    with fs.open("/f", "rb") as f:
        with pytest.raises(IOError) as info:
            f.read()
    assert fault_proxy.rule(rule)["fired"] == 3
    message = info.value.args[0]
    for part in (b"GetObject", b"503", b"SlowDown", (rgw.bucket + "/" + prefix + "/f").encode()):
        assert part in message


def test_refusals_are_not_retried(quoll_connect, fault_proxy, s3, rgw, prefix):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/f", Body=b"abc")
    fs = quoll_connect(endpoint=fault_proxy.endpoint)
    rule = fault_proxy.arm("GET", object_path("f"), "status", status=403,
                           code="AccessDenied", times=100)
    with fs.open("/f", "rb") as f:
        with pytest.raises(IOError):
            f.read()
    assert fault_proxy.rule(rule)["fired"] == 1


def test_retries_are_logged_without_secrets(quoll_connect, fault_proxy, s3, rgw, prefix,
                                            tmp_path):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/f", Body=b"abc")
    fs = quoll_connect(endpoint=fault_proxy.endpoint, raw={"logger.dir": str(tmp_path)})
    fault_proxy.arm("GET", object_path("f"), "status", status=503, code="SlowDown")
    with fs.open("/f", "rb") as f:
        assert f.read() == b"abc"
    log = (tmp_path / "orviksdk.log").read_text()
    assert "RETRY" in log and "SlowDown" in log
    for secret in (rgw.secret_key, rgw.access_key, "Signature=", "Credential="):
        assert secret not in log


@pytest.mark.parametrize("size", [1 * MiB, 12 * MiB])
def test_copy_file_moves_no_bytes_through_the_client(quoll_connect, fault_proxy, s3, rgw,
                                                     prefix, size):
    data = os.urandom(size)
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/a", Body=data)
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"copy.part.bytes": 5 * MiB})
    fault_proxy.reset()
    fs.copy_file("/a", "/b")
    assert [r for r in fault_proxy.requests() if r[0] == "GET" and "list-type" not in r[1]] == []
    assert fault_proxy.bytes_out() < 64 << 10
    assert s3.get_object(Bucket=rgw.bucket, Key=prefix + "/b")["Body"].read() == data
    assert uploads_left(s3, rgw, prefix) == []


# A copy through the client's buffer (the source was read from first, so
# the store cannot copy it whole) that fails part-way leaves the
# destination broken: its close fails and the old content stays.
@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_a_copy_that_fails_part_way_publishes_nothing(quoll_connect, fault_proxy, s3, rgw,
                                                      prefix):
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/a", Body=os.urandom(20 * MiB))
    s3.put_object(Bucket=rgw.bucket, Key=prefix + "/b", Body=b"previous")
    fs = quoll_connect(endpoint=fault_proxy.endpoint, **{"readahead.bytes": 1 * MiB})
    with fs.open("/a", "rb") as source:
        source.read(10)
        target = fs.open("/b", "wb")
        fault_proxy.arm("GET", object_path("a"), "status", status=403, code="AccessDenied",
                        times=100)
        with pytest.raises(IOError) as info:
            source.download(target)
        assert b"AccessDenied" in info.value.args[0]
        with pytest.raises(IOError):
            target.close()
    del target
    gc.collect()
    assert s3.get_object(Bucket=rgw.bucket, Key=prefix + "/b")["Body"].read() == b"previous"
    assert uploads_left(s3, rgw, prefix) == []
