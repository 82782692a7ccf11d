// quic_peer: an independent QUIC client for the direct path's tests. It connects, offers
// -alpn (none when empty), opens one stream, sends -send and prints what comes back until the
// host ends the stream; with -hold it stays after sending until killed.
package main

import (
	"context"
	"crypto/tls"
	"flag"
	"fmt"
	"io"
	"net"
	"os"
	"time"

	quic "github.com/lucas-clemente/quic-go"
)

func main() {
	addr := flag.String("addr", "", "host:port of the listener")
	alpn := flag.String("alpn", "vistaro/1", "application protocol to offer; empty: none")
	local := flag.String("local", "", "local address to send from")
	send := flag.String("send", "", "bytes to send on the stream")
	hold := flag.Bool("hold", false, "stay connected after sending, until killed")
	flag.Parse()

	tlsConfig := &tls.Config{InsecureSkipVerify: true}
	if *alpn != "" {
		tlsConfig.NextProtos = []string{*alpn}
	}
	localAddr, err := net.ResolveUDPAddr("udp", *local)
	if err != nil {
		fail("local", err)
	}
	socket, err := net.ListenUDP("udp", localAddr)
	if err != nil {
		fail("socket", err)
	}
	remote, err := net.ResolveUDPAddr("udp", *addr)
	if err != nil {
		fail("address", err)
	}
	config := &quic.Config{HandshakeIdleTimeout: 3 * time.Second, MaxIdleTimeout: 60 * time.Second}
	conn, err := quic.Dial(socket, remote, *addr, tlsConfig, config)
	if err != nil {
		fail("refused", err)
	}
	fmt.Printf("handshake alpn=%q\n", conn.ConnectionState().TLS.NegotiatedProtocol)
	stream, err := conn.OpenStreamSync(context.Background())
	if err == nil {
		_, err = stream.Write([]byte(*send))
	}
	if err != nil {
		fail("stream", err)
	}
	if *hold {
		fmt.Println("sent")
		select {}
	}
	reply, err := io.ReadAll(stream)
	if err != nil {
		fail("read", err)
	}
	fmt.Printf("reply %q\n", reply)
	stream.Close()
	conn.CloseWithError(0, "")
}

func fail(what string, err error) {
	fmt.Printf("%s: %v\n", what, err)
	os.Exit(3)
}
