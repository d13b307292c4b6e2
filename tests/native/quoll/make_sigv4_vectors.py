"""Prints the signing vectors of sigv4_signer_test.cc, computed by botocore.

Run once with the dev environment's Python; the output is pasted into the
test as fixed vectors, so the test never depends on botocore at run time and
our signer is checked against an implementation nobody here wrote.
"""
import datetime
from unittest import mock

from botocore.auth import S3SigV4Auth
from botocore.awsrequest import AWSRequest
from botocore.credentials import Credentials

CREDS = Credentials("AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY")
WHEN = datetime.datetime(2015, 8, 30, 12, 36, 0)

CASES = [
    ("get-plain", "GET", "https://s3.example.com/bkt/dir/file.txt", {}, b""),
    ("get-range", "GET", "https://s3.example.com/bkt/a%20b%2Bc%25d/%C3%A9t%C3%A9",
     {"Range": "bytes=0-65535"}, b""),
    ("list", "GET",
     "https://s3.example.com/bkt?list-type=2&prefix=a%20b%2F&delimiter=%2F"
     "&continuation-token=1%2Fab%3D%3D", {}, b""),
    ("uploads", "POST", "https://s3.example.com/bkt/big.bin?uploads", {}, b""),
    ("put-signed-body", "PUT", "http://127.0.0.1:7480/bkt/k%3Fx%23y",
     {"Content-Type": "application/octet-stream"}, b"hello, world"),
]


def main():
    for name, method, url, headers, body in CASES:
        request = AWSRequest(method=method, url=url, headers=dict(headers), data=body)
        with mock.patch("botocore.auth.get_current_datetime", return_value=WHEN):
            S3SigV4Auth(CREDS, "s3", "us-east-1").add_auth(request)
        print(name)
        print("  x-amz-date:", request.headers["X-Amz-Date"])
        print("  x-amz-content-sha256:", request.headers["X-Amz-Content-SHA256"])
        print("  authorization:", request.headers["Authorization"])


if __name__ == "__main__":
    main()
